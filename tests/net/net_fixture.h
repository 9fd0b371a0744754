#pragma once
// Every TCP/IP test starts with empty tables over a fresh string engine, talks to 127.0.0.1
// only, and points the external-address query at a port of this machine, so that no test can
// reach anything outside it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/base/run_state.h"
#include "runtime/memory/conv.h"
#include "runtime/net/detail.h"
#include "runtime/net/tcp.h"
#include "runtime/platform/platform.h"
#include "runtime/strings/detail.h"
#include "runtime/strings/str.h"

class NetTest : public ::testing::Test {
  protected:
    // Long enough for a sanitizer build on a loaded machine; every wait below ends at it.
    static constexpr int64_t DEADLINE_MS = 60000;

    void SetUp() override {
        run_state_reset();
        conv_memory_init();
        str_engine_reset(StrLimits{});
        net_reset();
        mark = str_temp_mark();
        set_address_server("127.0.0.1:" + std::to_string(free_port()));
    }
    void TearDown() override {
        net_reset();
        str_cleanup(mark, 0);
        platform_setenv("UNVEILO_ADDRESS_SERVER", nullptr);
    }

    static void set_address_server(const std::string& server) {
        platform_setenv("UNVEILO_ADDRESS_SERVER", server.c_str());
    }
    // A port that nothing listens on: the system picks it, and the listener is closed again.
    static int32_t free_port() {
        int32_t port = 0;
        platform_socket_close(platform_socket_listen(0, &port));
        return port;
    }
    static BasicString* text(const std::string& value) {
        BasicString* s = str_new(int32_t(value.size()), true);
        if (!value.empty()) std::memcpy(s->chars, value.data(), value.size());
        return s;
    }
    static std::string value(const BasicString* s) {
        return std::string(reinterpret_cast<const char*>(s->chars), size_t(s->length));
    }
    static const SpecialHandle& entry(int32_t handle) {
        return net.special_handles[size_t(~handle)];
    }
    static int32_t port_of(int32_t host_handle) { return entry(host_handle).connection->port; }

    int32_t open_host() { return tcp_open_host(text("TCP/IP:0")); }
    int32_t open_client(int32_t port, const char* transport = "TCP/IP") {
        return tcp_open_client(
            text(std::string(transport) + ":" + std::to_string(port) + ":127.0.0.1"));
    }
    // The next connection the host accepts, or 0 when none arrives in time.
    static int32_t accept_within_deadline(int32_t host) {
        const int64_t end = platform_clock_ms() + DEADLINE_MS;
        while (platform_clock_ms() < end) {
            if (const int32_t accepted = tcp_accept(host)) return accepted;
            platform_sleep_ms(1);
        }
        return 0;
    }
    // Receives until `count` bytes are in the stream's buffer or the deadline passes.
    static bool receive_at_least(NetStream* stream, int32_t count) {
        const int64_t end = platform_clock_ms() + DEADLINE_MS;
        while (platform_clock_ms() < end) {
            tcp_receive(stream);
            if (stream->receive_used >= count) return true;
            platform_sleep_ms(1);
        }
        return false;
    }
    // A connected pair: a client and the connection its host accepted.
    void connect_pair(int32_t* client, int32_t* accepted) {
        const int32_t host = open_host();
        ASSERT_LT(host, 0);
        *client = open_client(port_of(host));
        ASSERT_LT(*client, 0);
        *accepted = accept_within_deadline(host);
        ASSERT_LT(*accepted, 0);
    }

    int32_t mark = 0;
};
