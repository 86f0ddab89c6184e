// The release feed as any server could send it. An update is offered only for a feed within
// the size limit that names a newer version and an address a browser may be sent to, and the
// same feed padded past the limit offers nothing. Version comparison is a consistent order
// over any texts: the input's first lines, the feed's version and our own.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/update_check.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace dovetrel;
    using namespace dovetrel::fuzz;
    const std::string body(reinterpret_cast<const char*>(data), size);
    const auto release = decodeLatestRelease(body);

    std::vector<std::string> versions{kAppVersion, release ? release->version : ""};
    for (std::size_t start = 0; start < body.size() && versions.size() < 6;) {
        const std::size_t end = std::min(body.find('\n', start), body.size());
        versions.push_back(body.substr(start, end - start));
        start = end + 1;
    }
    const auto order = [](const std::string& a, const std::string& b) {
        const int order = compareVersions(a, b);
        return (order > 0) - (order < 0);
    };
    for (const auto& a : versions) {
        for (const auto& b : versions) {
            require(order(a, b) == -order(b, a), "version comparison is antisymmetric");
            for (const auto& c : versions) {
                require(order(a, b) > 0 || order(b, c) > 0 || order(a, c) <= 0,
                        "version comparison is transitive");
            }
        }
    }

    if (const auto offer = offeredDownload(body)) {
        require(body.size() <= kMaximumFeedBytes, "a feed over the limit is not read");
        require(release && release->url == *offer, "the feed's own address is offered");
        require(compareVersions(release->version, kAppVersion) > 0, "only a newer version");
        require(isHttpsOrGoesToThisMachine(*offer), "only https, or http to this machine");
        // JSON whitespace up to the limit changes nothing; one byte more and it is not read.
        std::string padded = body;
        padded.resize(kMaximumFeedBytes, ' ');
        require(offeredDownload(padded) == offer, "a feed of exactly the limit is read");
        padded.push_back(' ');
        require(!offeredDownload(padded), "a feed over the limit is not read");
    }
    return 0;
}
