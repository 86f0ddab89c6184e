#include "core/update_check.h"

#include "core/test_support.h"

namespace dovetrel::testing {
namespace {

TEST(CompareVersions, TakesRunsOfDigitsByValue) {
    EXPECT_GT(compareVersions("0.1.10", "0.1.3"), 0);
    EXPECT_GT(compareVersions("0.1.3.1", "0.1.3"), 0);
    EXPECT_GT(compareVersions("0.2", "0.1.3"), 0);
    EXPECT_GT(compareVersions("1.0", "0.99.99"), 0);
    EXPECT_EQ(compareVersions("0.1.3", "0.1.3"), 0);
    EXPECT_EQ(compareVersions("0.1.03", "0.1.3"), 0);
    EXPECT_LT(compareVersions("0.1.2", "0.1.3"), 0);
    EXPECT_LT(compareVersions("0.0.9", "0.1.3"), 0);
    EXPECT_LT(compareVersions("0.1", "0.1.3"), 0);
    // Longer than any integer type.
    EXPECT_GT(compareVersions("0.1.100000000000000000000000", "0.1.99999999999999999999999"), 0);
    // Other characters compare one by one.
    EXPECT_GT(compareVersions("0.1.3b", "0.1.3a"), 0);
    EXPECT_LT(compareVersions("v1", "w0"), 0);
}

TEST(DecodeLatestRelease, NeedsTwoStrings) {
    const auto good = decodeLatestRelease(R"({"version":"0.2.0","url":"https://x/y","extra":1})");
    ASSERT_TRUE(good);
    EXPECT_EQ(good->version, "0.2.0");
    EXPECT_EQ(good->url, "https://x/y");
    for (const char* bad : {R"({"version":"0.2.0"})", R"({"version":2,"url":"https://x"})",
                            R"({"version":"0.2","url":null})", R"(["0.2.0","https://x"])",
                            "<html>404 Not Found</html>", "", R"({"version":"0.2.0","url":)"}) {
        EXPECT_FALSE(decodeLatestRelease(bad)) << bad;
    }
}

TEST(IsOpenableDownloadURL, OpensHttpsAndPlainHttpOnlyToThisMachine) {
    for (const char* good :
         {"https://dovetrel.app/download", "HTTPS://Example.org", "http://localhost/x",
          "http://localhost:8000/x", "http://LOCALHOST:8000", "http://127.0.0.1/x",
          "http://127.255.3.4:80/", "http://[::1]/", "http://[::1]:8080/x",
          "https://example.org:65535/%41", "https://example.org:/"}) {
        EXPECT_TRUE(isOpenableDownloadURL(good)) << good;
    }
    // Besides the schemes and hosts the rule refuses, what a browser would rewrite or refuse, a
    // port beyond 65535 and a label that starts with a hyphen.
    const char* const bad[] = {"file:///etc/passwd",
                               "javascript:alert(1)",
                               "dovetrel-custom://run",
                               "http://example.org/",
                               "https://",
                               "https:///path",
                               "not a url",
                               "https://exa mple.org",
                               "ftp://example.org",
                               "https://user@evil.example/",
                               "http://127.0.0.1.evil.example@x/",
                               "http://127.attacker.example/",
                               "http://mirror.127.example/",
                               "http://127.0.0.1.evil.example/",
                               "http://localhost.evil.example/",
                               "http://127.0.0.256/",
                               "http://127.1/",
                               "http://127.0.0.1./",
                               "http://128.0.0.1/",
                               "http://0127.0.0.1/",
                               "http://127.0.0.-1/",
                               "http://[::2]/",
                               "http://[::1].evil/",
                               "https://example.org/a b",
                               "https://example.org/[x]",
                               "https://example.org/%4g",
                               "https://example.org:123456/",
                               "https://example.org:65536/",
                               "https://example.org:x/",
                               "https://[abc]/",
                               "https://-example.org/"};
    for (const char* url : bad) {
        EXPECT_FALSE(isOpenableDownloadURL(url)) << url;
    }
}

TEST(MayFollowFeedRedirect, NeverToALessSafeAddress) {
    const struct {
        const char* from;
        const char* to;
        bool followed;
    } cases[] = {
        {"https://dovetrel.app/feed", "https://mirror.example/feed", true},
        {"http://127.0.0.1:8000/feed", "http://localhost:8001/feed", true},
        {"HTTPS://dovetrel.app/feed", "http://127.0.0.1/feed", false},
        {"http://127.0.0.1/feed", "http://mirror.example/feed", false},
        {"https://dovetrel.app/feed", "file:///tmp/feed", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mayFollowFeedRedirect(c.from, c.to), c.followed) << c.from << " -> " << c.to;
    }
}

class UpdateCheck : public CoreTest {
  protected:
    void answer(std::optional<std::string> body) {
        ASSERT_EQ(platform.requests.size(), 1u);
        platform.requests[0].completion(std::move(body));
        platform.runMainQueue();
    }
    // Launches anew and answers the feed with `body`; true when an update was offered.
    bool offersAnUpdateFor(std::optional<std::string> body) {
        platform.requests.clear();
        platform.openedUrls.clear();
        delegate = std::make_shared<AppDelegate>(platform);
        launch();
        answer(std::move(body));
        delegate->openUpdateURL();
        return platform.statusItem()->menu()->items().size() == 7 && !platform.openedUrls.empty();
    }
};

TEST_F(UpdateCheck, AskesOnceWithoutCacheAndATimeout) {
    launch();
    ASSERT_EQ(platform.requests.size(), 1u);
    EXPECT_EQ(platform.requests[0].request.url, "https://dovetrel.app/releases/latest.json");
    EXPECT_EQ(platform.requests[0].request.timeoutSeconds, 60.0);
    EXPECT_TRUE(platform.requests[0].request.reloadIgnoringCache);
}

TEST_F(UpdateCheck, ANewerVersionAddsOneItemBelowSnoozeThatOpensItsAddress) {
    launch();
    answer(R"({"version":"0.1.10","url":"https://dovetrel.app/get"})");
    // On the panel at once, without waiting for the menu to be opened.
    EXPECT_EQ(platform.statusItem()->shownMenu(),
              (std::vector<std::string>{"[x] Enabled", "Snooze", "Update Available (v0.1.10)",
                                        "---", "Settings\u2026", "---", "Quit Dovetrel"}));
    ASSERT_TRUE(delegate->updateMenuItem);
    for (const auto& item : platform.statusItem()->menu()->items()) {
        EXPECT_EQ(item->accentTitle, item == delegate->updateMenuItem) << item->title;
    }
    platform.statusItem()->choose(delegate->updateMenuItem);
    EXPECT_EQ(platform.openedUrls, (std::vector<std::string>{"https://dovetrel.app/get"}));
}

TEST_F(UpdateCheck, AnythingElseAddsNothingAndOpensNothing) {
    // Up to 64 KiB of feed is read, and not a byte more.
    std::string largest = R"({"version":"0.2.0","url":"https://dovetrel.app/get"})";
    largest.resize(65536, ' ');
    EXPECT_TRUE(offersAnUpdateFor(largest));
    EXPECT_FALSE(offersAnUpdateFor(largest + ' '));
    const std::vector<std::optional<std::string>> bodies = {
        R"({"version":"0.1.3","url":"https://dovetrel.app/get"})",
        R"({"version":"0.1.2","url":"https://dovetrel.app/get"})", R"({"version":"0.2.0"})",
        R"({"version":"0.2.0","url":"file:///bin/sh"})", std::nullopt};
    for (const auto& body : bodies) {
        EXPECT_FALSE(offersAnUpdateFor(body)) << body.value_or("no answer");
    }
}

TEST_F(UpdateCheck, AnEmptyFeedAddressTurnsTheCheckOff) {
    platform.feedURL.clear();
    launch();
    EXPECT_TRUE(platform.requests.empty());
}

TEST_F(UpdateCheck, AnAnswerAfterTheDelegateHasGoneDoesNothing) {
    launch();
    delegate.reset();
    answer(R"({"version":"0.2.0","url":"https://dovetrel.app/get"})");
    EXPECT_EQ(platform.statusItem()->menu()->items().size(), 6u);
}

TEST_F(UpdateCheck, TheItemGoesAtTheEndOfAShortMenu) {
    launch();
    auto shortMenu = std::make_shared<Menu>();
    shortMenu->addItem(std::make_shared<MenuItem>());
    platform.statusItem()->setMenu(shortMenu);
    delegate->showUpdateMenuItem("0.2.0");
    EXPECT_EQ(shortMenu->items().size(), 2u);
    EXPECT_EQ(shortMenu->items()[1], delegate->updateMenuItem);
}

}  // namespace
}  // namespace dovetrel::testing
