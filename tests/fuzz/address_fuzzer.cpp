// Download addresses as a feed could give them: whatever the text, the program hands the
// browser only https addresses, or plain http to exactly this machine as a browser reads it;
// by the address rule alone and through a whole feed that carries the address.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "core/update_check.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace dovetrel;
    using namespace dovetrel::fuzz;
    const std::string url(reinterpret_cast<const char*>(data), size);
    require(!isOpenableDownloadURL(url) || isHttpsOrGoesToThisMachine(url),
            "only https, or http to this machine");
    require(!isLoopbackHost(lowercase(url)) || namesThisMachine(lowercase(url)),
            "only this machine is loopback");
    // JSON strings hold UTF-8 only; other bytes cannot come from a feed.
    const auto body = nlohmann::json{{"version", "99"}, {"url", url}}.dump(
        -1, ' ', false, nlohmann::json::error_handler_t::ignore);
    if (const auto offer = offeredDownload(body)) {
        require(isHttpsOrGoesToThisMachine(*offer), "only https, or http to this machine");
    }
    return 0;
}
