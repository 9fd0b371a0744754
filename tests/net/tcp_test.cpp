// TCP/IP handles over loopback. Every wait ends at the fixture's deadline.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "net/net_fixture.h"
#include "runtime/base/error.h"

namespace {

ErrorCode pending_error() {
    return run_state.error_code.load(std::memory_order_relaxed);
}

using TcpTest = NetTest;

TEST_F(TcpTest, client_connects_to_host) {
    const int32_t host = open_host();
    ASSERT_LT(host, 0);
    EXPECT_EQ(entry(host).kind, SPECIAL_KIND_HOST);
    EXPECT_EQ(entry(host).connection->role, NET_ROLE_HOST);
    EXPECT_EQ(entry(host).connection->transport, NET_TRANSPORT_TCP);
    const int32_t port = port_of(host);
    EXPECT_GT(port, 0); // port 0 asked the system for one, and the host reports it

    const int32_t client = open_client(port);
    ASSERT_LT(client, 0);
    EXPECT_NE(client, host);
    const int32_t accepted = accept_within_deadline(host);
    ASSERT_LT(accepted, 0);

    for (const auto& [handle, role] :
         {std::pair{client, NET_ROLE_CLIENT}, std::pair{accepted, NET_ROLE_ACCEPTED}}) {
        const NetStream* stream = tcp_stream(handle);
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(stream->kind_marker, STREAM_MARKER_NETWORK);
        EXPECT_EQ(stream->connection->role, role);
        EXPECT_EQ(stream->connection->port, port);
        EXPECT_EQ(stream->receive_capacity, 0);
    }
    EXPECT_EQ(tcp_stream(host), nullptr);
    EXPECT_EQ(pending_error(), 0u);
}

TEST_F(TcpTest, lower_case_transport_is_accepted) {
    const int32_t host = tcp_open_host(text("Tcp/Ip:0"));
    ASSERT_LT(host, 0);
    EXPECT_LT(open_client(port_of(host), "tcp/ip"), 0);
    EXPECT_LT(accept_within_deadline(host), 0);
    EXPECT_EQ(pending_error(), 0u);
}

TEST_F(TcpTest, accept_with_nothing_pending_returns_0) {
    const int32_t host = open_host();
    ASSERT_LT(host, 0);
    EXPECT_EQ(tcp_accept(host), 0);
    EXPECT_EQ(pending_error(), 0u);
}

TEST_F(TcpTest, accept_on_a_handle_that_is_not_a_host_raises_258) {
    int32_t client = 0, accepted = 0;
    connect_pair(&client, &accepted);
    for (const int32_t handle : {client, accepted, -77, 0, 3}) {
        run_state_reset();
        EXPECT_EQ(tcp_accept(handle), 0) << handle;
        EXPECT_EQ(pending_error(), ERROR_INVALID_HANDLE) << handle;
    }
}

TEST_F(TcpTest, malformed_addresses_raise_5) {
    const char* clients[] = {"TCP/IP:80", "TCP/IP:80:127.0.0.1:1", "", "HTTP:80:127.0.0.1",
                             "TCP/IP"};
    for (const char* address : clients) {
        run_state_reset();
        EXPECT_EQ(tcp_open_client(text(address)), 0) << address;
        EXPECT_EQ(pending_error(), ERROR_ILLEGAL_FUNCTION_CALL) << address;
    }
    const char* hosts[] = {"TCP/IP:0:127.0.0.1", "TCP/IP", "UDP:0"};
    for (const char* address : hosts) {
        run_state_reset();
        EXPECT_EQ(tcp_open_host(text(address)), 0) << address;
        EXPECT_EQ(pending_error(), ERROR_ILLEGAL_FUNCTION_CALL) << address;
    }
    EXPECT_TRUE(net.special_handles.empty());
}

TEST_F(TcpTest, failures_to_connect_give_0_without_error) {
    const std::string refused = "TCP/IP:" + std::to_string(free_port()) + ":127.0.0.1";
    const char* addresses[] = {refused.c_str(), "TCP/IP:65536:127.0.0.1", "TCP/IP:-1:127.0.0.1",
                               "TCP/IP:80:"};
    for (const char* address : addresses) {
        EXPECT_EQ(tcp_open_client(text(address)), 0) << address;
        EXPECT_EQ(pending_error(), 0u) << address;
    }
    // A zero byte would cut the name short in the resolver.
    EXPECT_EQ(tcp_open_client(text(std::string("TCP/IP:80:127.0.0.1\0.example", 29))), 0);
    EXPECT_EQ(tcp_open_host(text("TCP/IP:70000")), 0);
    EXPECT_EQ(pending_error(), 0u);
    EXPECT_TRUE(net.special_handles.empty());
}

TEST_F(TcpTest, a_port_taken_by_another_host_cannot_be_bound) {
    const int32_t first = open_host();
    ASSERT_LT(first, 0);
    EXPECT_EQ(tcp_open_host(text("TCP/IP:" + std::to_string(port_of(first)))), 0);
    EXPECT_EQ(pending_error(), 0u);
}

TEST_F(TcpTest, a_pending_error_makes_every_operation_do_nothing) {
    const int32_t host = open_host();
    ASSERT_LT(host, 0);
    error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
    EXPECT_EQ(open_client(port_of(host)), 0);
    EXPECT_EQ(open_host(), 0);
    EXPECT_EQ(tcp_accept(host), 0);
    EXPECT_EQ(tcp_connection_address(host)->length, 0);
    EXPECT_EQ(net.special_handles.size(), 1u);
}

TEST_F(TcpTest, send_and_receive) {
    int32_t client = 0, accepted = 0;
    connect_pair(&client, &accepted);
    NetStream* from = tcp_stream(client);
    NetStream* to = tcp_stream(accepted);

    // Nothing has arrived: the buffer is made but stays empty.
    tcp_receive(to);
    EXPECT_EQ(to->receive_capacity, NET_RECEIVE_FIRST_CAPACITY);
    EXPECT_EQ(to->receive_used, 0);
    EXPECT_TRUE(platform_socket_would_block(net.last_error));

    const std::string message = "HELLO, HOST";
    const auto* bytes = reinterpret_cast<const uint8_t*>(message.data());
    EXPECT_EQ(tcp_send(from, bytes, int32_t(message.size())), int32_t(message.size()));
    ASSERT_TRUE(receive_at_least(to, int32_t(message.size())));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(to->receive_data), size_t(to->receive_used)),
              message);

    // And back the other way.
    EXPECT_EQ(tcp_send(to, bytes, 5), 5);
    ASSERT_TRUE(receive_at_least(from, 5));
    EXPECT_EQ(std::memcmp(from->receive_data, "HELLO", 5), 0);
}

TEST_F(TcpTest, a_host_cannot_be_written) {
    int32_t client = 0, accepted = 0;
    connect_pair(&client, &accepted);
    NetStream* stream = tcp_stream(client);
    stream->connection->role = NET_ROLE_HOST; // as a stream over a host's connection would be
    EXPECT_EQ(tcp_send(stream, reinterpret_cast<const uint8_t*>("x"), 1), 0);
    stream->connection->role = NET_ROLE_CLIENT;
    stream->kind_marker = 0; // not a network stream
    EXPECT_EQ(tcp_send(stream, reinterpret_cast<const uint8_t*>("x"), 1), 0);
    stream->kind_marker = STREAM_MARKER_NETWORK;
    EXPECT_EQ(tcp_send(nullptr, reinterpret_cast<const uint8_t*>("x"), 1), 0);
}

TEST_F(TcpTest, a_receive_doubles_its_buffer) {
    int32_t client = 0, accepted = 0;
    connect_pair(&client, &accepted);
    std::vector<uint8_t> data(3000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + 1);
    ASSERT_EQ(tcp_send(tcp_stream(client), data.data(), int32_t(data.size())), 3000);
    NetStream* to = tcp_stream(accepted);
    ASSERT_TRUE(receive_at_least(to, 3000));
    EXPECT_EQ(to->receive_used, 3000);
    EXPECT_EQ(to->receive_capacity, 4096); // 1024, 2048, 4096
    EXPECT_EQ(std::memcmp(to->receive_data, data.data(), data.size()), 0);
}

// Both ends send 16 MB at once and check every byte they receive; the test plays the stream
// layer, taking the bytes out of the receive buffer as they come.
TEST_F(TcpTest, sixteen_megabytes_each_way) {
    constexpr size_t TOTAL = 16u << 20;
    int32_t client = 0, accepted = 0;
    connect_pair(&client, &accepted);
    struct Side {
        NetStream* stream;
        std::vector<uint8_t> out;
        size_t sent = 0;
        size_t checked = 0;
    };
    Side sides[2] = {{tcp_stream(client), std::vector<uint8_t>(TOTAL)},
                     {tcp_stream(accepted), std::vector<uint8_t>(TOTAL)}};
    std::mt19937 random(16);
    for (Side& side : sides)
        for (uint8_t& b : side.out) b = uint8_t(random());

    const int64_t end = platform_clock_ms() + DEADLINE_MS;
    bool done = false;
    while (!done && platform_clock_ms() < end) {
        done = true;
        for (int i = 0; i < 2; ++i) {
            Side& side = sides[i];
            const Side& peer = sides[1 - i];
            if (side.sent < TOTAL) {
                const auto chunk = int32_t(std::min<size_t>(TOTAL - side.sent, 256u << 10));
                const int32_t n = tcp_send(side.stream, side.out.data() + side.sent, chunk);
                if (n > 0) side.sent += size_t(n);
            }
            tcp_receive(side.stream);
            const auto got = size_t(side.stream->receive_used);
            ASSERT_LE(side.checked + got, TOTAL);
            ASSERT_EQ(std::memcmp(side.stream->receive_data, peer.out.data() + side.checked, got),
                      0)
                << "at byte " << side.checked;
            side.checked += got;
            side.stream->receive_used = 0;
            done = done && side.sent == TOTAL && side.checked == TOTAL;
        }
    }
    for (const Side& side : sides) {
        EXPECT_EQ(side.sent, TOTAL);
        EXPECT_EQ(side.checked, TOTAL);
    }
}

TEST_F(TcpTest, peer_close) {
    int32_t client = 0, accepted = 0;
    connect_pair(&client, &accepted);
    ASSERT_EQ(tcp_send(tcp_stream(client), reinterpret_cast<const uint8_t*>("BYE"), 3), 3);
    tcp_close(client);
    EXPECT_EQ(tcp_stream(client), nullptr);

    // What was sent before the close arrives; after it the receive ends without an error.
    NetStream* stream = tcp_stream(accepted);
    ASSERT_TRUE(receive_at_least(stream, 3));
    EXPECT_EQ(std::memcmp(stream->receive_data, "BYE", 3), 0);
    net.last_error = 0;
    tcp_receive(stream);
    EXPECT_EQ(stream->receive_used, 3);
    EXPECT_EQ(net.last_error, 0);

    // Sending to the closed peer fails in the end, and never stops the process with a signal.
    const int64_t end = platform_clock_ms() + DEADLINE_MS;
    int32_t result = 0;
    while (platform_clock_ms() < end) {
        result = tcp_send(stream, reinterpret_cast<const uint8_t*>("?"), 1);
        if (result < 0) break;
        platform_sleep_ms(1);
    }
    EXPECT_EQ(result, -1);
}

TEST_F(TcpTest, close_frees_the_records_and_reuses_the_entry) {
    int32_t client = 0, accepted = 0;
    connect_pair(&client, &accepted);
    const int32_t host = -1; // the first entry: connect_pair opened the host first
    EXPECT_EQ(entry(host).kind, SPECIAL_KIND_HOST);
    EXPECT_EQ(net.streams.in_use(), 2u);
    EXPECT_EQ(net.connections.in_use(), 3u);
    tcp_close(client);
    tcp_close(accepted);
    EXPECT_EQ(net.streams.in_use(), 0u);
    EXPECT_EQ(net.connections.in_use(), 1u);
    tcp_close(host);
    EXPECT_EQ(net.connections.in_use(), 0u);
    EXPECT_EQ(open_host(), -1);
    EXPECT_EQ(pending_error(), 0u);

    tcp_close(client); // already closed
    EXPECT_EQ(pending_error(), ERROR_INVALID_HANDLE);
}

// --- The host's address text ---------------------------------------------------------------------

// A one-request web server on 127.0.0.1 standing in for the address-lookup server. It records the
// request it got and answers with `answer`, then closes or keeps the connection open.
class LookupServer {
  public:
    LookupServer(std::string answer, bool close_after)
        : listener_(platform_socket_listen(0, &port_)), answer_(std::move(answer)),
          close_after_(close_after) {
        thread_ = std::thread([this] { serve(); });
    }
    ~LookupServer() {
        stop_.store(true, std::memory_order_relaxed);
        thread_.join();
        platform_socket_close(listener_);
    }
    int32_t port() const { return port_; }
    // Valid after the query has returned: the server has replied by then, and the value is
    // published through request_done_.
    std::string request() const {
        return request_done_.load(std::memory_order_acquire) ? request_ : std::string();
    }

  private:
    void serve() {
        const int64_t end = platform_clock_ms() + 30000;
        PlatformSocket connection = PLATFORM_NO_SOCKET;
        while (connection == PLATFORM_NO_SOCKET && !stop_.load(std::memory_order_relaxed) &&
               platform_clock_ms() < end) {
            connection = platform_socket_accept(listener_);
            if (connection == PLATFORM_NO_SOCKET) platform_sleep_ms(1);
        }
        if (connection == PLATFORM_NO_SOCKET) return;
        std::string request;
        char chunk[512];
        int32_t error = 0;
        while (request.find("\r\n\r\n") == std::string::npos && platform_clock_ms() < end) {
            const int32_t n = platform_socket_receive(connection, chunk, sizeof chunk, &error);
            if (n == 0) break;
            if (n > 0)
                request.append(chunk, size_t(n));
            else
                platform_sleep_ms(1);
        }
        request_ = request;
        request_done_.store(true, std::memory_order_release);
        size_t sent = 0;
        while (sent < answer_.size() && platform_clock_ms() < end) {
            const int32_t n = platform_socket_send(connection, answer_.data() + sent,
                                                   int32_t(answer_.size() - sent), &error);
            if (n > 0)
                sent += size_t(n);
            else
                platform_sleep_ms(1);
        }
        // An HTTP/1.1 server keeps the connection open; the query must not wait for its end.
        while (!close_after_ && !stop_.load(std::memory_order_relaxed) && platform_clock_ms() < end)
            platform_sleep_ms(1);
        platform_socket_close(connection);
    }

    int32_t port_ = 0;
    PlatformSocket listener_;
    std::string answer_;
    bool close_after_;
    std::string request_;
    // Written by the server thread once request_ holds the request; read by the test thread.
    std::atomic<bool> request_done_{false};
    // Written by the test thread when it is done; read by the server thread between polls.
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(TcpTest, connection_address_asks_the_lookup_server) {
    LookupServer server("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 69\r\n\r\n"
                        "<html><head></head><body>Current IP Address: 203.0.113.7</body></html>",
                        false);
    set_address_server("127.0.0.1:" + std::to_string(server.port()));
    const int32_t host = open_host();
    ASSERT_LT(host, 0);
    const int64_t start = platform_clock_ms();
    BasicString* address = tcp_connection_address(host);
    EXPECT_LT(platform_clock_ms() - start, ADDRESS_QUERY_TIMEOUT_MS); // no wait for the close
    EXPECT_EQ(value(address), "TCP/IP:" + std::to_string(port_of(host)) + ":203.0.113.7");
    EXPECT_TRUE(address->is_temporary);
    EXPECT_EQ(server.request(), "GET /ip.php HTTP/1.1\r\nHost: 127.0.0.1:" +
                                    std::to_string(server.port()) + "\r\n\r\n");
}

TEST_F(TcpTest, connection_address_falls_back_when_nothing_answers) {
    // The fixture's lookup server is a port nothing listens on.
    const int32_t host = open_host();
    ASSERT_LT(host, 0);
    EXPECT_EQ(value(tcp_connection_address(host)),
              "TCP/IP:" + std::to_string(port_of(host)) + ":127.0.0.1");
    EXPECT_EQ(pending_error(), 0u);
}

TEST_F(TcpTest, connection_address_falls_back_when_the_server_setting_names_no_port) {
    const int32_t host = open_host();
    ASSERT_LT(host, 0);
    for (const char* setting : {"127.0.0.1:http", "127.0.0.1:0", "127.0.0.1:65536", ":"}) {
        set_address_server(setting);
        EXPECT_EQ(value(tcp_connection_address(host)),
                  "TCP/IP:" + std::to_string(port_of(host)) + ":127.0.0.1")
            << setting;
    }
}

TEST_F(TcpTest, connection_address_falls_back_on_an_answer_without_address) {
    LookupServer server("HTTP/1.1 503 Service Unavailable\r\n\r\nTry 1.2.3 later", true);
    set_address_server("127.0.0.1:" + std::to_string(server.port()));
    const int32_t host = open_host();
    ASSERT_LT(host, 0);
    EXPECT_EQ(value(tcp_connection_address(host)),
              "TCP/IP:" + std::to_string(port_of(host)) + ":127.0.0.1");
}

TEST_F(TcpTest, connection_address_of_a_handle_that_is_not_a_host_raises_52) {
    int32_t client = 0, accepted = 0;
    connect_pair(&client, &accepted);
    EXPECT_EQ(tcp_connection_address(client)->length, 0);
    EXPECT_EQ(pending_error(), ERROR_BAD_FILE_NUMBER);
    run_state_reset();
    EXPECT_EQ(tcp_connection_address(-50)->length, 0);
    EXPECT_EQ(pending_error(), ERROR_BAD_FILE_NUMBER);
}

} // namespace
