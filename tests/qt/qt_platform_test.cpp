// The platform's own small operations: the loop's timers, URLs, the status item.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QTextBrowser>
#include <cmath>
#include <limits>

#include "qt_platform.hpp"
#include "qt_wait.hpp"

namespace orvela::qt {
namespace {

using orvela::test::spin;
using orvela::test::waitUntil;

TEST(QtPlatform, DelayedCallsRunLaterInOrderAndOddDelaysAreSafe) {
    QtPlatform platform;
    std::vector<std::string> ran;
    platform.runAfter(0.15, [&] { ran.push_back("later"); });
    platform.runAfter(0, [&] { ran.push_back("now"); });
    platform.runAfter(std::nan(""), [&] { ran.push_back("nan"); });
    platform.runAfter(-5, [&] { ran.push_back("negative"); });
    platform.runAfter(std::numeric_limits<double>::infinity(), [&] { ran.push_back("never"); });
    EXPECT_TRUE(ran.empty()) << "ran inside runAfter()";
    ASSERT_TRUE(waitUntil([&] { return ran.size() >= 4; }));
    spin(50);
    EXPECT_EQ(ran, (std::vector<std::string>{"now", "nan", "negative", "later"}));

    int ticks = 0;
    platform.startRepeatingTimer(0.05, [&] { ++ticks; });
    spin(280);
    EXPECT_GE(ticks, 4);
    EXPECT_LE(ticks, 6);
}

class UrlSink : public QTextBrowser {
public:
    std::vector<QUrl> opened;

protected:
    void doSetSource(const QUrl& url, QTextDocument::ResourceType) override {
        opened.push_back(url);
    }
};

TEST(QtPlatform, OnlyValidUrlsWithASchemeReachTheDesktop) {
    QtPlatform platform;
    UrlSink sink;
    for (const char* scheme : {"http", "https", "file", "mailto"})
        QDesktopServices::setUrlHandler(scheme, &sink, "setSource");
    const std::vector<std::pair<std::string, bool>> cases = {
        {"https://orvela.app/planner.html?date=2024-12-05", true},
        {"http://127.0.0.1:8765//device.html?code=ABCD-EFGH", true},
        {"not a url", false},
        {"", false},
        {"https://exa mple.com/", false},
        {"/settings.html#apps", false},
        {"https://host/%zz", false},
    };
    for (const auto& [url, opens] : cases) {
        sink.opened.clear();
        platform.openUrl(url);
        EXPECT_EQ(sink.opened.size(), opens ? 1u : 0u) << url;
        if (opens && !sink.opened.empty()) {
            EXPECT_EQ(sink.opened[0].toString().toStdString(), url);
        }
    }
    for (const char* scheme : {"http", "https", "file", "mailto"})
        QDesktopServices::unsetUrlHandler(scheme);
}

TEST(QtPlatform, CreatesOneStatusItem) {
    QtPlatform platform;
    StatusItem* item = platform.createStatusItem();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(platform.createStatusItem(), item);
    EXPECT_GT(platform.processId(), 0);
}

}  // namespace
}  // namespace orvela::qt
