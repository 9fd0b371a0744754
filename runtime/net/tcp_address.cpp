// Address texts and the external-address query.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/net/detail.h"

namespace {

constexpr char TRANSPORT_NAME[] = "TCP/IP";

bool is_transport(const uint8_t* text, int32_t length) {
    const int32_t name_length = int32_t(sizeof TRANSPORT_NAME - 1);
    if (length != name_length) return false;
    for (int32_t i = 0; i < length; ++i)
        if (std::toupper(text[i]) != TRANSPORT_NAME[i]) return false;
    return true;
}

bool is_digit(uint8_t c) {
    return c >= '0' && c <= '9';
}

// The dialect's reading of a text as a number: blanks skipped, an optional sign, digits with an
// optional fraction and an exponent written with E or D; reading stops at the first character
// that does not fit, and a text without digits is 0. The value is then made an integer by
// rounding, halves to even, as the dialect converts reals to integers. False when that integer
// is not a port.
bool read_port(const uint8_t* text, int32_t length, int32_t* port) {
    int32_t i = 0;
    while (i < length && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::string number;
    if (i < length && (text[i] == '+' || text[i] == '-')) number += char(text[i++]);
    bool digits = false;
    while (i < length && is_digit(text[i])) number += char(text[i++]), digits = true;
    if (i < length && text[i] == '.') {
        number += char(text[i++]);
        while (i < length && is_digit(text[i])) number += char(text[i++]), digits = true;
    }
    if (digits && i < length && std::strchr("EeDd", text[i]) != nullptr && text[i] != 0) {
        std::string exponent = "e";
        int32_t j = i + 1;
        if (j < length && (text[j] == '+' || text[j] == '-')) exponent += char(text[j++]);
        if (j < length && is_digit(text[j])) {
            while (j < length && is_digit(text[j])) exponent += char(text[j++]);
            number += exponent;
        }
    }
    const double value = digits ? std::strtod(number.c_str(), nullptr) : 0.0;
    const double rounded = std::nearbyint(value);
    if (!(rounded >= 0 && rounded <= 65535)) return false;
    *port = int32_t(rounded);
    return true;
}

// Whether `run` (digits and dots only) is a dotted IPv4 address: four groups of one to three
// digits, each at most 255.
bool is_dotted_address(const std::string& run) {
    int32_t groups = 0;
    size_t start = 0;
    for (;;) {
        const size_t dot = run.find('.', start);
        const std::string group = run.substr(start, dot == std::string::npos ? dot : dot - start);
        if (group.empty() || group.size() > 3 || std::atoi(group.c_str()) > 255) return false;
        ++groups;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return groups == 4;
}

// "host" or "host:port" of the address-lookup server.
void address_server(std::string* host, int32_t* port) {
    *host = ADDRESS_SERVER_HOST;
    *port = ADDRESS_SERVER_PORT;
    const char* setting = std::getenv("UNVEILO_ADDRESS_SERVER");
    if (setting == nullptr || *setting == 0) return;
    const std::string text = setting;
    const size_t colon = text.rfind(':');
    *host = text.substr(0, colon);
    if (colon == std::string::npos) return;
    char* end = nullptr;
    const long value = std::strtol(text.c_str() + colon + 1, &end, 10);
    // A port that is no port cannot be asked: the query then fails and the fallback applies.
    *port = (*end == 0 && value > 0 && value <= 65535) ? int32_t(value) : -1;
}

// Whether the answer holds an address that no further byte can lengthen.
bool answer_complete(const std::string& answer) {
    const std::string found = tcp_scan_address(answer);
    if (found.empty()) return false;
    const size_t at = answer.find(found);
    return at + found.size() < answer.size();
}

} // namespace

TcpAddressStatus tcp_parse_address(const uint8_t* text, int32_t length, int32_t parts,
                                   TcpAddress* out) {
    // Part boundaries: start and end of each part.
    int32_t starts[4] = {};
    int32_t ends[4] = {};
    int32_t count = 0;
    int32_t start = 0;
    for (int32_t i = 0; i <= length; ++i) {
        if (i < length && text[i] != ':') continue;
        if (count == 4) return TcpAddressStatus::malformed; // more parts than any address has
        starts[count] = start;
        ends[count] = i;
        ++count;
        start = i + 1;
    }
    if (count < 2 || !is_transport(text + starts[0], ends[0] - starts[0]))
        return TcpAddressStatus::malformed;
    if (count != parts) return TcpAddressStatus::malformed;
    if (!read_port(text + starts[1], ends[1] - starts[1], &out->port))
        return TcpAddressStatus::bad_port;
    if (parts == 3)
        out->host.assign(reinterpret_cast<const char*>(text + starts[2]),
                         size_t(ends[2] - starts[2]));
    return TcpAddressStatus::ok;
}

std::string tcp_scan_address(const std::string& answer) {
    size_t i = 0;
    while (i < answer.size()) {
        const auto c = uint8_t(answer[i]);
        if (!is_digit(c) && c != '.') {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < answer.size() && (is_digit(uint8_t(answer[end])) || answer[end] == '.')) ++end;
        const std::string run = answer.substr(i, end - i);
        if (is_dotted_address(run)) return run;
        i = end;
    }
    return std::string();
}

// One request, then up to five seconds of polling. The polling ends early when the server has
// closed the connection or when a whole address has arrived: an HTTP/1.1 server keeps the
// connection open, and waiting out the five seconds would add nothing to the answer.
std::string tcp_external_address() {
    std::string host;
    int32_t port = 0;
    address_server(&host, &port);
    if (port < 0 || host.empty()) return std::string();
    const PlatformSocket socket = platform_socket_connect(host.c_str(), port);
    if (socket == PLATFORM_NO_SOCKET) return std::string();

    std::string request = "GET /ip.php HTTP/1.1\r\nHost: " + host;
    if (port != ADDRESS_SERVER_PORT) request += ":" + std::to_string(port);
    request += "\r\n\r\n";
    size_t sent = 0;
    std::string answer;
    bool closed = false;
    for (int32_t waited_ms = 0; waited_ms <= ADDRESS_QUERY_TIMEOUT_MS;
         waited_ms += ADDRESS_QUERY_POLL_MS) {
        int32_t error = 0;
        while (sent < request.size()) {
            const int32_t n = platform_socket_send(socket, request.data() + sent,
                                                   int32_t(request.size() - sent), &error);
            if (n <= 0) break;
            sent += size_t(n);
        }
        char chunk[1024];
        for (;;) {
            const int32_t n = platform_socket_receive(socket, chunk, sizeof chunk, &error);
            if (n == 0) closed = true;
            if (n <= 0) break;
            answer.append(chunk, size_t(n));
        }
        if (closed || answer_complete(answer)) break;
        platform_sleep_ms(ADDRESS_QUERY_POLL_MS);
    }
    platform_socket_close(socket);
    return tcp_scan_address(answer);
}
