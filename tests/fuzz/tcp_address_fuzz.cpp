// libFuzzer entry for the address texts of TCP/IP handles and for the scan of the address-lookup
// server's answer. Nothing is opened: a random host name must never reach a resolver. Each result
// is checked against a plain restatement of the rules; a difference aborts.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/net/detail.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "tcp address: %s\n", what);
    std::abort();
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == ':')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

bool is_transport(std::string name) {
    for (char& c : name) c = char(std::toupper(uint8_t(c)));
    return name == "TCP/IP";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> parts = split(text);
    for (int32_t wanted : {2, 3}) {
        TcpAddress address;
        const TcpAddressStatus status = tcp_parse_address(data, int32_t(size), wanted, &address);
        const bool well_formed =
            parts.size() >= 2 && is_transport(parts[0]) && int32_t(parts.size()) == wanted;
        if (well_formed != (status != TcpAddressStatus::malformed)) fail("malformed or not");
        if (status != TcpAddressStatus::ok) continue;
        if (address.port < 0 || address.port > 65535) fail("port out of range");
        if (wanted == 3 && address.host != parts[2]) fail("host part");
        if (wanted == 2 && !address.host.empty()) fail("host on a host address");
    }
    const std::string found = tcp_scan_address(text);
    if (!found.empty()) {
        if (text.find(found) == std::string::npos) fail("scanned address not in the answer");
        int32_t dots = 0;
        for (char c : found) {
            if (c == '.')
                ++dots;
            else if (c < '0' || c > '9')
                fail("scanned address holds other characters");
        }
        if (dots != 3) fail("scanned address without three dots");
    }
    return 0;
}
