// What the fuzz targets share: a broken property ends the run (libFuzzer keeps the input),
// the program's answer to one release feed, and where a browser would go for an address.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>
#include <string_view>

#include "core/app_delegate.h"
#include "sim/simulated_platform.h"

namespace dovetrel::fuzz {

inline void require(bool holds, const char* property) {
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", property);
        std::abort();
    }
}

// The address the program offers as an update once the feed has answered `body`.
inline std::optional<std::string> offeredDownload(const std::string& body) {
    static sim::SimulatedPlatform platform;
    static const auto delegate = std::make_shared<AppDelegate>(platform);
    delegate->latestDownloadURL.reset();
    platform.requests.clear();
    platform.calls.clear();
    delegate->checkForUpdates();
    platform.requests.at(0).completion(body);
    platform.runMainQueue();
    return delegate->latestDownloadURL;
}

inline std::string lowercase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

// Whether `host` (lower case) is exactly localhost, [::1] or a dotted 127.x.x.x literal.
inline bool namesThisMachine(const std::string& host) {
    static const std::regex quad(R"(127\.(\d{1,3})\.(\d{1,3})\.(\d{1,3}))");
    std::smatch parts;
    return host == "localhost" || host == "[::1]" ||
           (std::regex_match(host, parts, quad) &&
            std::all_of(parts.begin() + 1, parts.end(),
                        [](const auto& part) { return std::stoi(part.str()) <= 255; }));
}

// Whether `url` is an https address, or plain http that a browser would send to this
// machine. It is read the way browsers read addresses (the WHATWG URL standard), not the way
// the program does: slashes and backslashes alike end the authority, and user information up
// to its last "@" is dropped.
inline bool isHttpsOrGoesToThisMachine(std::string_view url) {
    const std::string scheme = lowercase(url.substr(0, url.find(':')));
    if (scheme != "http" || scheme.size() == url.size()) {
        return scheme == "https" && scheme.size() < url.size();
    }
    std::string_view rest = url.substr(scheme.size() + 1);
    rest.remove_prefix(std::min(rest.find_first_not_of("/\\"), rest.size()));
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#\\"));
    authority.remove_prefix(authority.rfind('@') + 1);  // npos + 1 is 0
    const auto hostEnd = authority.starts_with('[') ? authority.find(']') + 1 : authority.find(':');
    return namesThisMachine(lowercase(authority.substr(0, hostEnd)));
}

}  // namespace dovetrel::fuzz
