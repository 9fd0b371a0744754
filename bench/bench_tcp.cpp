// Loopback TCP throughput: 1 MB per iteration from a client to the connection its host accepted,
// in 64 KB sends, through the handle layer (tcp_send, tcp_receive and its growing buffer) and
// through a plain pair of the same loopback sockets with a fixed receive buffer. One thread
// pumps both ends, as the program thread would.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/base/run_state.h"
#include "runtime/memory/conv.h"
#include "runtime/net/detail.h"
#include "runtime/net/tcp.h"
#include "runtime/platform/platform.h"
#include "runtime/strings/str.h"

namespace {

constexpr int32_t TRANSFER = 1 << 20;
constexpr int32_t CHUNK = 64 << 10;

const std::vector<uint8_t> PAYLOAD(TRANSFER, 0x5A);

void handle_layer(benchmark::State& state) {
    run_state_reset();
    conv_memory_init();
    str_engine_reset();
    net_reset();
    const int32_t host = tcp_open_host(str_new_cstring("TCP/IP:0"));
    const int32_t port = net.special_handles[size_t(~host)].connection->port;
    const std::string address = "TCP/IP:" + std::to_string(port) + ":127.0.0.1";
    const int32_t client = tcp_open_client(str_new_cstring(address.c_str()));
    int32_t accepted = 0;
    while (accepted == 0) accepted = tcp_accept(host);
    NetStream* from = tcp_stream(client);
    NetStream* to = tcp_stream(accepted);
    for (auto _ : state) {
        int32_t sent = 0, received = 0;
        while (received < TRANSFER) {
            if (sent < TRANSFER) {
                const int32_t n =
                    tcp_send(from, PAYLOAD.data() + sent, std::min(CHUNK, TRANSFER - sent));
                if (n > 0) sent += n;
            }
            tcp_receive(to);
            received += to->receive_used;
            to->receive_used = 0; // taken by the stream layer
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * TRANSFER);
    net_reset();
}

void plain_sockets(benchmark::State& state) {
    int32_t port = 0;
    const PlatformSocket listener = platform_socket_listen(0, &port);
    const PlatformSocket from = platform_socket_connect("127.0.0.1", port);
    PlatformSocket to = PLATFORM_NO_SOCKET;
    while (to == PLATFORM_NO_SOCKET) to = platform_socket_accept(listener);
    std::vector<uint8_t> buffer(CHUNK);
    int32_t error = 0;
    for (auto _ : state) {
        int32_t sent = 0, received = 0;
        while (received < TRANSFER) {
            if (sent < TRANSFER) {
                const int32_t n = platform_socket_send(from, PAYLOAD.data() + sent,
                                                       std::min(CHUNK, TRANSFER - sent), &error);
                if (n > 0) sent += n;
            }
            for (;;) {
                const int32_t n = platform_socket_receive(to, buffer.data(), CHUNK, &error);
                if (n <= 0) break;
                received += n;
            }
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * TRANSFER);
    platform_socket_close(to);
    platform_socket_close(from);
    platform_socket_close(listener);
}

} // namespace

BENCHMARK(handle_layer);
BENCHMARK(plain_sockets);

BENCHMARK_MAIN();
