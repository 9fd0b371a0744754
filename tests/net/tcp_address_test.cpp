// Address texts, read without opening anything.
#include <gtest/gtest.h>

#include <string>

#include "runtime/net/detail.h"

namespace {

TcpAddressStatus parse(const std::string& text, int32_t parts, TcpAddress* out) {
    return tcp_parse_address(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()),
                             parts, out);
}

struct AddressCase {
    const char* text;
    int32_t parts;
    TcpAddressStatus status;
    int32_t port;
    const char* host;
};

const AddressCase ADDRESS_CASES[] = {
    {"TCP/IP:80:example", 3, TcpAddressStatus::ok, 80, "example"},
    {"tcp/ip:80:example", 3, TcpAddressStatus::ok, 80, "example"},
    {"Tcp/Ip:7", 2, TcpAddressStatus::ok, 7, ""},
    {"TCP/IP::h", 3, TcpAddressStatus::ok, 0, "h"}, // no digits: the number 0
    {"TCP/IP:80:", 3, TcpAddressStatus::ok, 80, ""},
    {"TCP/IP:80", 3, TcpAddressStatus::malformed, 0, ""},     // client with two parts
    {"TCP/IP:80:h:x", 3, TcpAddressStatus::malformed, 0, ""}, // client with four parts
    {"TCP/IP:80:h:x:y:z", 3, TcpAddressStatus::malformed, 0, ""},
    {"TCP/IP:80:h", 2, TcpAddressStatus::malformed, 0, ""}, // host with three parts
    {"TCP/IP", 2, TcpAddressStatus::malformed, 0, ""},
    {"", 2, TcpAddressStatus::malformed, 0, ""},
    {":", 2, TcpAddressStatus::malformed, 0, ""},
    {"TCPIP:80", 2, TcpAddressStatus::malformed, 0, ""},
    {"TCP/IP :80", 2, TcpAddressStatus::malformed, 0, ""},
    {"UDP:80:h", 3, TcpAddressStatus::malformed, 0, ""},
    {"TCP/IP:65536:h", 3, TcpAddressStatus::bad_port, 0, ""},
    {"TCP/IP:-1", 2, TcpAddressStatus::bad_port, 0, ""},
    {"TCP/IP:1e999", 2, TcpAddressStatus::bad_port, 0, ""},
};

TEST(tcp_parse_address, table) {
    for (const AddressCase& c : ADDRESS_CASES) {
        TcpAddress address;
        EXPECT_EQ(parse(c.text, c.parts, &address), c.status) << c.text;
        if (c.status != TcpAddressStatus::ok) continue;
        EXPECT_EQ(address.port, c.port) << c.text;
        EXPECT_EQ(address.host, c.host) << c.text;
    }
}

// The port is read as the dialect reads a number and rounded to an integer, halves to even.
TEST(tcp_parse_address, port_is_read_as_a_number) {
    const struct {
        const char* port;
        int32_t value; // -1: not a port
    } cases[] = {
        {"80", 80},
        {" 80", 80},
        {"\t+80", 80},
        {"80abc", 80},
        {"8E1", 80},
        {"8d1", 80},
        {"8e", 8},
        {"80.5", 80},
        {"81.5", 82},
        {"80.49", 80},
        {"", 0},
        {"x80", 0},
        {"-0.4", 0},
        {"65535", 65535},
        {"65535.4", 65535},
        {"65535.5", -1},
        {"-1", -1},
        {"-0.6", -1},
        {"99999999999999999999", -1},
        {"0065535", 65535},
        {".5e1", 5},
    };
    for (const auto& c : cases) {
        TcpAddress address;
        const TcpAddressStatus status = parse(std::string("TCP/IP:") + c.port, 2, &address);
        if (c.value < 0) {
            EXPECT_EQ(status, TcpAddressStatus::bad_port) << c.port;
        } else {
            ASSERT_EQ(status, TcpAddressStatus::ok) << c.port;
            EXPECT_EQ(address.port, c.value) << c.port;
        }
    }
}

TEST(tcp_parse_address, host_keeps_every_byte) {
    TcpAddress address;
    const std::string text("TCP/IP:1:a\0b", 12);
    ASSERT_EQ(parse(text, 3, &address), TcpAddressStatus::ok);
    EXPECT_EQ(address.host, std::string("a\0b", 3));
}

TEST(tcp_scan_address, first_dotted_address) {
    const struct {
        const char* answer;
        const char* address;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\n\r\nCurrent IP Address: 203.0.113.7</body>", "203.0.113.7"},
        {"1.2.3.4", "1.2.3.4"},
        {"v1.1 and 1.2.3 then 10.0.0.1\n", "10.0.0.1"},
        {"999.1.1.1 8.8.4.4", "8.8.4.4"},
        {"...", ""},
        {"1..2.3", ""},
        {"10.0.0.1.", ""},
        {"1234.1.1.1", ""},
        {"", ""},
        {"no address here", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(tcp_scan_address(c.answer), c.address) << c.answer;
}

} // namespace
