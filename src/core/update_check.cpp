// The once-per-launch look at the release feed.
#include "core/update_check.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <nlohmann/json.hpp>

#include "core/app_delegate.h"

namespace dovetrel {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string lowercase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

}  // namespace

std::optional<LatestRelease> decodeLatestRelease(std::string_view body) {
    const auto json = nlohmann::json::parse(body, nullptr, false);
    if (!json.is_object()) {
        return std::nullopt;
    }
    const auto version = json.find("version");
    const auto url = json.find("url");
    if (version == json.end() || url == json.end() || !version->is_string() || !url->is_string()) {
        return std::nullopt;
    }
    return LatestRelease{version->get<std::string>(), url->get<std::string>()};
}

int compareVersions(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const std::size_t startA = i;
            const std::size_t startB = j;
            while (i < a.size() && isDigit(a[i])) {
                ++i;
            }
            while (j < b.size() && isDigit(b[j])) {
                ++j;
            }
            // Compare the runs by value without converting: ignore leading zeros, then the
            // longer run is the larger number, and equal lengths compare digit by digit.
            std::string_view runA = a.substr(startA, i - startA);
            std::string_view runB = b.substr(startB, j - startB);
            runA.remove_prefix(std::min(runA.find_first_not_of('0'), runA.size()));
            runB.remove_prefix(std::min(runB.find_first_not_of('0'), runB.size()));
            if (runA.size() != runB.size()) {
                return runA.size() < runB.size() ? -1 : 1;
            }
            if (const int order = runA.compare(runB); order != 0) {
                return order < 0 ? -1 : 1;
            }
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i < a.size()) {
        return 1;
    }
    return j < b.size() ? -1 : 0;
}

namespace {

// Whether `url` is written as RFC 3986 allows, in plain ASCII, so that the browser is handed
// exactly the address the feed gave: no stray "%" or character an address may not hold, a
// port up to 65535, and a host of letters, digits and inner hyphens, or in brackets.
bool isWellFormedURL(std::string_view url) {
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    const auto alnum = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
    const auto schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos || schemeEnd == 0) {
        return false;
    }
    const std::string_view rest = url.substr(schemeEnd + 3);
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%'
                ? i + 2 >= rest.size() || !hex(rest[i + 1]) || !hex(rest[i + 2])
                : !alnum(rest[i]) && std::string_view("-._~!$&'()*+,;=:@/?#[]").find(rest[i]) ==
                                         std::string_view::npos) {
            return false;
        }
    }
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (authority.empty() || rest.find_first_of("[]", authority.size()) != std::string_view::npos) {
        return false;
    }
    const std::size_t hostEnd =
        authority.front() == '[' ? authority.find(']') + 1 : authority.find(':');
    const std::string_view host = authority.substr(0, hostEnd);
    if (host.empty()) {
        return false;
    }
    const std::string_view port = authority.substr(host.size());
    if (!port.empty() && (port.front() != ':' || port.size() > 6 ||
                          !std::all_of(port.begin() + 1, port.end(), isDigit) ||
                          (port.size() > 1 && std::stoi(std::string(port.substr(1))) > 65535))) {
        return false;
    }
    if (host.front() == '[') {
        return host.find(':') != std::string_view::npos &&
               std::all_of(host.begin() + 1, host.end() - 1,
                           [&](char c) { return hex(c) || c == ':' || c == '.'; });
    }
    for (std::size_t start = 0; start <= host.size();) {
        const std::string_view label = host.substr(start, host.find('.', start) - start);
        if (label.empty() || label.front() == '-' || label.back() == '-' ||
            !std::all_of(label.begin(), label.end(),
                         [&](char c) { return alnum(c) || c == '-' || c == '_'; })) {
            return false;
        }
        start += label.size() + 1;
    }
    return true;
}

}  // namespace

bool isOpenableDownloadURL(std::string_view url) {
    if (!isWellFormedURL(url)) {
        return false;
    }
    const auto schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos) {
        return false;
    }
    const std::string scheme = lowercase(url.substr(0, schemeEnd));
    std::string_view rest = url.substr(schemeEnd + 3);
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    // A user name or password in the address is a classic way to disguise the real host.
    if (authority.find('@') != std::string_view::npos) {
        return false;
    }
    std::string host;
    if (!authority.empty() && authority.front() == '[') {
        host = lowercase(authority.substr(0, authority.find(']') + 1));
        // Only a port may follow the bracketed address.
        if (host.size() < authority.size() && authority[host.size()] != ':') {
            return false;
        }
    } else {
        host = lowercase(authority.substr(0, authority.find(':')));
    }
    if (host.empty()) {
        return false;
    }
    if (scheme == "https") {
        return true;
    }
    return scheme == "http" && isLoopbackHost(host);
}

bool mayFollowFeedRedirect(std::string_view from, std::string_view to) {
    const auto isHttps = [](std::string_view url) {
        return lowercase(url.substr(0, url.find(':'))) == "https";
    };
    return isOpenableDownloadURL(to) && (!isHttps(from) || isHttps(to));
}

bool isLoopbackHost(std::string_view host) {
    if (host == "localhost" || host == "[::1]") {
        return true;
    }
    // Only a dotted-quad literal: "127.evil.example" is a name anyone can register.
    int parts = 0;
    int first = -1;
    while (!host.empty()) {
        const auto dot = host.find('.');
        const std::string_view part = host.substr(0, dot);
        if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), isDigit)) {
            return false;
        }
        int value = 0;
        std::from_chars(part.data(), part.data() + part.size(), value);
        if (value > 255) {
            return false;
        }
        if (parts++ == 0) {
            first = value;
        }
        if (dot == std::string_view::npos) {
            break;
        }
        host.remove_prefix(dot + 1);
        if (host.empty()) {
            return false;  // a trailing dot
        }
    }
    return parts == 4 && first == 127;
}

void AppDelegate::checkForUpdates() {
    const std::string feed = platform_.releaseFeedURL();
    if (feed.empty()) {
        return;
    }
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    Platform* platform = &platform_;
    platform_.httpGet(HttpRequest{feed, 60.0, true},
                      [weak, platform](std::optional<std::string> body) {
                          if (!body || body->size() > kMaximumFeedBytes) {
                              return;
                          }
                          const auto release = decodeLatestRelease(*body);
                          if (!release || compareVersions(release->version, kAppVersion) <= 0 ||
                              !isOpenableDownloadURL(release->url)) {
                              return;
                          }
                          if (weak.expired()) {
                              return;
                          }
                          platform->dispatchAsync([weak, release = *release] {
                              const auto self = weak.lock();
                              if (!self) {
                                  return;
                              }
                              self->latestDownloadURL = release.url;
                              self->showUpdateMenuItem(release.version);
                          });
                      });
}

void AppDelegate::showUpdateMenuItem(const std::string& version) {
    const auto menu = statusItem ? statusItem->menu() : nullptr;
    if (!menu) {
        return;
    }
    auto item = std::make_shared<MenuItem>();
    item->title = "Update Available (v" + version + ")";
    item->action = "openUpdateURL";
    item->accentTitle = true;
    menu->insertItem(item, std::min<std::size_t>(menu->items().size(), 2));
    updateMenuItem = std::move(item);
    statusItem->menuChanged();
}

void AppDelegate::openUpdateURL() {
    if (latestDownloadURL) {
        platform_.openUrl(*latestDownloadURL);
    }
}

}  // namespace dovetrel
