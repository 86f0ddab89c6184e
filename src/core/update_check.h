// The release feed: what it says, how versions compare, which addresses may be opened.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dovetrel {

// The feed's answer: {"version": "0.2.0", "url": "https://..."}; other keys are ignored.
struct LatestRelease {
    std::string version;
    std::string url;
};

// nullopt unless the body is a JSON object whose "version" and "url" are both strings.
std::optional<LatestRelease> decodeLatestRelease(std::string_view body);

// Compares versions with runs of digits taken by value and other characters one by one, so
// 0.1.10 > 0.1.3, 0.2 > 0.1.3 and 0.1.3.1 > 0.1.3. Negative, zero or positive as a < = > b.
int compareVersions(std::string_view a, std::string_view b);

// Whether a download address from the feed may be handed to the browser: an address written
// as RFC 3986 allows, in plain ASCII (so the browser gets exactly what the feed gave), that is
// https, or http to this machine. A feed must never make us launch file:,
// javascript: or a custom scheme's handler.
bool isOpenableDownloadURL(std::string_view url);

// Whether the feed's request at `from` may follow a redirect to `to`: only where a download
// address could lead, and never from https to anything less. Plain http elsewhere would hand
// the answer to anyone on the way.
bool mayFollowFeedRedirect(std::string_view from, std::string_view to);

// Whether `host` (lower case, as it stands in an address, without the port) is this machine:
// exactly "localhost", "[::1]" or a dotted-quad IPv4 literal in 127.0.0.0/8.
bool isLoopbackHost(std::string_view host);

// Feeds larger than this are not read.
inline constexpr std::size_t kMaximumFeedBytes = 64 * 1024;

}  // namespace dovetrel
