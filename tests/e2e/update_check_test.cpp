// The once-per-launch look at the release feed, against a feed served on this machine and
// read back through the tray menu as a panel sees it.
#include "core/update_check.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "e2e/feed_server.h"
#include "e2e/panel_bus.h"
#include "support/x_session.h"

namespace dovetrel::e2e {
using namespace support;
namespace {

const std::string kNewer = R"({"version": "0.2.0", "url": "https://dovetrel.app/"})";

class UpdateCheck : public ::testing::Test {
  protected:
    void SetUp() override {
        // A stand-in for the desktop's opener that writes down what it was asked to open.
        const std::string script = bin.filePath("xdg-open").toStdString();
        std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" << openedPath() << "'\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        ASSERT_TRUE(panel.startWatcher());
    }

    // Starts the program against a feed answering `status` with `body`, and waits until it
    // has asked the feed and its tray menu is on the panel.
    void launchAgainst(int status, const std::string& body, bool announceLength = true,
                       const std::string& head = "") {
        std::string fullHead = head;
        if (const auto at = fullHead.find("{mirror}"); at != std::string::npos) {
            fullHead.replace(at, 8, std::to_string(DOVETREL_TEST_FEED_PORT + 1));
            mirror.emplace(DOVETREL_TEST_FEED_PORT + 1, 200, kNewer);
        }
        feed.emplace(DOVETREL_TEST_FEED_PORT, status, body, announceLength, fullHead);
        const char* path = std::getenv("PATH");
        dovetrel.emplace(
            session, "[General]\nidleTimeout=60\n",
            std::vector<std::string>{panel.environment(),
                                     "PATH=" + bin.path().toStdString() + ":" + (path ? path : "")},
            DOVETREL_LOCAL_FEED_BINARY);
        ASSERT_TRUE(panel.findItemMenu()) << dovetrel->unexpectedOutput();
        ASSERT_TRUE(waitFor([&] { return feed->requests() == 1; }, 10s));
    }

    std::string openedPath() const { return bin.filePath("opened").toStdString(); }
    std::string opened() const { return readText(openedPath()); }

    XSession session;
    PanelBus panel;
    QTemporaryDir bin;
    std::optional<FeedServer> feed;
    // Where a redirect leads: a newer release on the next port.
    std::optional<FeedServer> mirror;
    std::optional<Dovetrel> dovetrel;
};

TEST_F(UpdateCheck, ANewerReleaseAddsItsItemBelowSnoozeAndOpensItsAddress) {
    launchAgainst(200, R"({"version": "0.1.10", "url": "https://dovetrel.app/download/0.1.10"})");
    // The inserted item reaches the panel, without the menu being opened.
    ASSERT_TRUE(waitFor([&] { return panel.layout().labels().size() == 7; }))
        << dovetrel->unexpectedOutput();
    EXPECT_EQ(panel.layout().labels().at(2), "Update Available (v0.1.10)");
    panel.click(panel.layout().child("Update Available (v0.1.10)"));
    EXPECT_TRUE(waitFor([&] { return !opened().empty(); }));
    EXPECT_EQ(opened(), "https://dovetrel.app/download/0.1.10\n");
    EXPECT_EQ(feed->requests(), 1) << "the feed is asked once per launch";
    EXPECT_EQ(dovetrel->unexpectedOutput(), "");
}

// Feeds that must offer nothing; and the same newer release padded with JSON whitespace to
// exactly the size limit, which must.
struct FeedCase {
    const char* name;
    int status;
    std::string body;
    std::string head;
    bool offered;
};

void PrintTo(const FeedCase& feed, std::ostream* out) {
    *out << feed.name;
}

std::string padded(std::string feed, std::size_t size) {
    feed.resize(size, ' ');
    return feed;
}

class Feed : public UpdateCheck, public ::testing::WithParamInterface<FeedCase> {};

TEST_P(Feed, OffersAnUpdateOnlyForAUsableAnswer) {
    launchAgainst(GetParam().status, GetParam().body, true, GetParam().head);
    if (GetParam().offered) {
        EXPECT_TRUE(waitFor([&] { return panel.layout().labels().size() == 7; }));
    } else {
        // The answer is in; give the program a moment to act on it, which it must not.
        waitFor([] { return false; }, 1s);
        EXPECT_EQ(panel.layout().labels().size(), 6u);
    }
    EXPECT_TRUE(dovetrel->process().isRunning());
    EXPECT_EQ(dovetrel->unexpectedOutput(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Feeds, Feed,
    ::testing::Values(
        FeedCase{"NotFoundPage", 404, "<html><body>404 Not Found</body></html>", "", false},
        FeedCase{"AtTheSizeLimit", 200, padded(kNewer, kMaximumFeedBytes), "", true},
        // A feed server that sends the program elsewhere, to a newer release: followed only
        // where a feed could be. [::ffff:127.0.0.1] reaches this machine but is not written as
        // its address.
        FeedCase{"RedirectToLoopback", 302, "",
                 "Location: http://127.0.0.1:{mirror}/latest.json\r\n", true},
        FeedCase{"RedirectToPlainHttpElsewhere", 302, "",
                 "Location: http://[::ffff:127.0.0.1]:{mirror}/latest.json\r\n", false}),
    [](const auto& info) { return std::string(info.param.name); });

// An answer far over the feed's size limit, its length announced or not.
class OversizedFeed : public UpdateCheck, public ::testing::WithParamInterface<bool> {};

TEST_P(OversizedFeed, IsCutOffSoonAfterTheLimit) {
    std::string body = R"({"version": "0.2.0", "url": "https://dovetrel.app/"})";
    body.resize(std::size_t{50} << 20, ' ');
    launchAgainst(200, body, GetParam());
    ASSERT_TRUE(waitFor([&] { return feed->answered() == 1; }, 30s));
    // The limit, and what the socket buffers on both sides take in before the hang-up.
    EXPECT_LT(feed->bytesSent(), std::size_t{512} << 10);
    EXPECT_EQ(panel.layout().labels().size(), 6u);
    EXPECT_TRUE(dovetrel->process().isRunning());
    EXPECT_EQ(dovetrel->unexpectedOutput(), "");
}

INSTANTIATE_TEST_SUITE_P(Lengths, OversizedFeed, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "Announced" : "Unannounced");
});

}  // namespace
}  // namespace dovetrel::e2e
