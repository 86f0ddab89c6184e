// The once-per-launch look at the release feed, against a feed served on this machine and
// read back through the tray menu as a panel sees it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "e2e/feed_server.h"
#include "e2e/panel_bus.h"
#include "e2e/x_session.h"

namespace dovetrel::e2e {
namespace {

class UpdateCheck : public ::testing::Test {
  protected:
    void SetUp() override {
        // A stand-in for the desktop's opener that writes down what it was asked to open.
        const std::string script = bin.path() + "/xdg-open";
        std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" << openedPath() << "'\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        ASSERT_TRUE(panel.startWatcher());
    }

    // Starts the program against a feed answering `status` with `body`, and waits until it
    // has asked the feed and its tray menu is on the panel.
    void launchAgainst(int status, const std::string& body, bool announceLength = true) {
        feed.emplace(DOVETREL_TEST_FEED_PORT, status, body, announceLength);
        const char* path = std::getenv("PATH");
        dovetrel.emplace(session, "[General]\nidleTimeout=60\n",
                         std::vector<std::string>{panel.environment(),
                                                  "PATH=" + bin.path() + ":" + (path ? path : "")},
                         DOVETREL_LOCAL_FEED_BINARY);
        ASSERT_TRUE(panel.findItemMenu()) << dovetrel->unexpectedOutput();
        ASSERT_TRUE(waitFor([&] { return feed->requests() == 1; }, 10s));
    }

    std::string openedPath() const { return bin.path() + "/opened"; }
    std::string opened() const {
        std::ifstream in(openedPath());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    XSession session;
    PanelBus panel;
    TemporaryDirectory bin;
    std::optional<FeedServer> feed;
    std::optional<Dovetrel> dovetrel;
};

TEST_F(UpdateCheck, ANewerReleaseAddsItsItemBelowSnoozeAndOpensItsAddress) {
    launchAgainst(200, R"({"version": "0.1.10", "url": "https://dovetrel.app/download/0.1.10"})");
    std::vector<std::string> labels;
    ASSERT_TRUE(waitFor([&] {
        labels = panel.layout().labels();
        return labels.size() == 7;
    })) << dovetrel->unexpectedOutput();
    EXPECT_EQ(labels, (std::vector<std::string>{"Enabled", "Snooze", "Update Available (v0.1.10)",
                                                "-", "Settings\u2026", "-", "Quit Dovetrel"}));
    panel.click(panel.layout().child("Update Available (v0.1.10)"));
    EXPECT_TRUE(waitFor([&] { return !opened().empty(); }));
    EXPECT_EQ(opened(), "https://dovetrel.app/download/0.1.10\n");
    EXPECT_EQ(feed->requests(), 1) << "the feed is asked once per launch";
    EXPECT_EQ(dovetrel->unexpectedOutput(), "");
}

struct NoUpdateCase {
    const char* name;
    int status;
    const char* body;
};

class NoUpdate : public UpdateCheck, public ::testing::WithParamInterface<NoUpdateCase> {};

TEST_P(NoUpdate, AddsNothingAndOpensNothing) {
    launchAgainst(GetParam().status, GetParam().body);
    // The answer is in; give the program a moment to act on it, which it must not.
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(panel.layout().labels().size(), 6u);
    EXPECT_EQ(opened(), "");
    EXPECT_TRUE(dovetrel->process().isRunning());
    EXPECT_EQ(dovetrel->unexpectedOutput(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Feeds, NoUpdate,
    ::testing::Values(
        NoUpdateCase{"SameVersion", 200, R"({"version": "0.1.3", "url": "https://dovetrel.app/"})"},
        NoUpdateCase{"OlderVersion", 200,
                     R"({"version": "0.0.9", "url": "https://dovetrel.app/"})"},
        NoUpdateCase{"MalformedJson", 200, R"({"version": "0.2.0", "url": )"},
        NoUpdateCase{"NotFoundPage", 404, "<html><body>404 Not Found</body></html>"},
        NoUpdateCase{"FileAddress", 200, R"({"version": "0.2.0", "url": "file:///bin/sh"})"},
        NoUpdateCase{"AddressWithABadPort", 200,
                     R"({"version": "0.2.0", "url": "https://dovetrel.app:99999/"})"}),
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
}

INSTANTIATE_TEST_SUITE_P(Lengths, OversizedFeed, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "Announced" : "Unannounced");
});

}  // namespace
}  // namespace dovetrel::e2e
