// Reading the command line: what launches the app, what is a command for it, what is wrong; and
// the status line bars parse.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

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

// Whatever the title holds, the line is one line: valid JSON that gives it back unchanged, or
// the plain text with control characters made blanks.
TEST(CommandLine, TheJsonLineCarriesAnyTextIntact) {
    const QString title = "🍅 05:00 · \"Отчёт\"\n\\ <b>&</b>\t\u0001";
    const QByteArray line = statusLine({{"Title", title}, {"Tooltip", "a\nb"}}, true);
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    EXPECT_TRUE(!line.contains('\n') && object.value("text") == title &&
                object.value("tooltip") == "a\nb")
        << line.toStdString();
    // Plain, it stays one line of text.
    EXPECT_EQ(statusLine({{"Title", title}}, false), "🍅 05:00 · \"Отчёт\" \\ <b>&</b>  ");
}

}  // namespace
}  // namespace orvela::qt
