// Reading the command line: what launches the app, what is a command for it, what is wrong; and
// the status line bars parse.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>

#include "control/command_line.hpp"

namespace orvela::qt {
namespace {

TEST(CommandLine, ArgumentsChooseBetweenTheAppAndACommand) {
    using K = Invocation::Kind;
    // Each case: arguments, kind, command, json, follow.
    const std::vector<std::tuple<QStringList, K, QString, bool, bool>> cases = {
        {{"-platform", "offscreen"}, K::Launch, "", false, false},  // the toolkit's own
        {{"-OrvelaURL"}, K::Launch, "", false, false},
        {{"-OrvelaURL", "http://x", "-OrvelaURL", "y", "skip"}, K::Command, "skip", false, false},
        {{"status", "--follow", "--json"}, K::Command, "status", true, true},
        {{"open"}, K::Command, "open", false, false},
        {{"quit", "--json"}, K::Usage, "", false, false},
        {{"-h", "pause"}, K::Help, "", false, false},
        {{"Pause"}, K::Usage, "", false, false},
        {{"stop", "--follow"}, K::Usage, "", false, false},
        {{"status", "now"}, K::Usage, "", false, false},
    };
    for (const auto& [arguments, kind, command, json, follow] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const Invocation invocation = parseInvocation(arguments);
        EXPECT_EQ(invocation.kind, kind);
        EXPECT_EQ(invocation.command, command);
        EXPECT_EQ(std::pair(invocation.json, invocation.follow), std::pair(json, follow));
        EXPECT_EQ(invocation.problem.isEmpty(), kind != K::Usage);
    }
}

// The text of a Pango markup string (an XML fragment), or "invalid markup".
QString markupText(const QString& markup) {
    QXmlStreamReader reader("<markup>" + markup + "</markup>");
    QString text;
    while (!reader.atEnd())
        if (reader.readNext() == QXmlStreamReader::Characters) text += reader.text();
    return reader.hasError() ? "invalid markup" : text;
}

// Whatever the title holds, the line is one line of valid JSON whose text and tooltip, read as
// the Pango markup waybar takes them for, give it back (control characters made blanks, the
// tooltip's line breaks kept); the phase comes as class and alt. The plain line stays plain
// text, one line with control characters made blanks.
TEST(CommandLine, TheJsonLineCarriesAnyTextAsMarkup) {
    const QString title = "🍅 05:00 · \"Отчёт\" & 'план' ‹черновик>\n\\ <b>&amp;</b>\t\u0001";
    const QString shown = "🍅 05:00 · \"Отчёт\" & 'план' ‹черновик> \\ <b>&amp;</b>  ";
    const QByteArray line =
        statusLine({{"Title", title}, {"Tooltip", "a & <b>\nb\u0007"}, {"Phase", "rest"}}, true);
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    EXPECT_FALSE(line.contains('\n')) << line.toStdString();
    EXPECT_EQ(markupText(object.value("text").toString()), shown);
    EXPECT_EQ(markupText(object.value("tooltip").toString()), "a & <b>\nb ");
    EXPECT_TRUE(object.value("class") == "rest" && object.value("alt") == "rest");
    EXPECT_EQ(statusLine({{"Title", title}}, false), shown.toUtf8());
}

}  // namespace
}  // namespace orvela::qt
