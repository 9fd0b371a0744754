// TCP/IP handles: the special-handle table, the stream and connection records, and the
// operations on them. Sockets come from the platform layer already non-blocking.
#include "runtime/net/tcp.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/base/error.h"
#include "runtime/base/run_state.h"
#include "runtime/net/detail.h"

NetState net;

namespace {

// Doubling stops here: one more would pass the 32-bit capacity.
constexpr int32_t RECEIVE_CAPACITY_LIMIT = 1 << 30;

void consume(BasicString* s) {
    if (s->is_temporary) str_free(s);
}

// The lowest free entry is reused, so handles stay small.
int32_t new_handle(int32_t kind, NetStream* stream, NetConnection* connection) {
    size_t index = 0;
    while (index < net.special_handles.size() && net.special_handles[index].kind != 0) ++index;
    if (index == net.special_handles.size()) net.special_handles.emplace_back();
    net.special_handles[index] = SpecialHandle{kind, stream, connection};
    return ~int32_t(index);
}

SpecialHandle* entry_of(int32_t handle) {
    if (handle >= 0) return nullptr;
    const size_t index = size_t(~handle);
    if (index >= net.special_handles.size()) return nullptr;
    SpecialHandle* entry = &net.special_handles[index];
    return entry->kind == 0 ? nullptr : entry;
}

NetConnection* new_connection(uint8_t role, PlatformSocket socket, int32_t port) {
    NetConnection* c = net.connections.take();
    c->transport = NET_TRANSPORT_TCP;
    c->role = role;
    c->socket_holder = new PlatformSocket(socket);
    c->port = port;
    return c;
}

int32_t new_stream_connection(uint8_t role, PlatformSocket socket, int32_t port) {
    NetStream* stream = net.streams.take();
    stream->kind_marker = STREAM_MARKER_NETWORK;
    stream->connection = new_connection(role, socket, port);
    return new_handle(SPECIAL_KIND_STREAM, stream, nullptr);
}

void free_connection(NetConnection* c) {
    if (c->transport == NET_TRANSPORT_TCP && c->socket_holder != nullptr) {
        platform_socket_close(*c->socket_holder);
        delete c->socket_holder;
        c->socket_holder = nullptr;
    }
    net.connections.give_back(c);
}

void free_entry(SpecialHandle* entry) {
    if (entry->kind == SPECIAL_KIND_STREAM) {
        NetStream* stream = entry->stream;
        free_connection(stream->connection);
        std::free(stream->receive_data);
        net.streams.give_back(stream);
    } else {
        free_connection(entry->connection);
    }
    *entry = SpecialHandle{};
}

// Reads an address text; raises 5 for a malformed one. False when no connection can follow.
bool read_address(BasicString* text, int32_t parts, TcpAddress* address) {
    const TcpAddressStatus status = tcp_parse_address(text->chars, text->length, parts, address);
    consume(text);
    if (status == TcpAddressStatus::malformed) {
        error_raise(ERROR_ILLEGAL_FUNCTION_CALL);
        return false;
    }
    return status == TcpAddressStatus::ok;
}

} // namespace

void net_reset() {
    for (SpecialHandle& entry : net.special_handles)
        if (entry.kind != 0) free_entry(&entry);
    net = NetState{};
}

int32_t tcp_open_client(BasicString* address_text) {
    if (error_pending()) return 0;
    TcpAddress address;
    if (!read_address(address_text, 3, &address)) return 0;
    // A name with a zero byte in it would be cut short by the resolver and reach another host;
    // an empty name would mean this machine on Windows and nothing on Linux.
    if (address.host.empty() || address.host.find('\0') != std::string::npos) return 0;
    const PlatformSocket socket = platform_socket_connect(address.host.c_str(), address.port);
    if (socket == PLATFORM_NO_SOCKET) return 0;
    return new_stream_connection(NET_ROLE_CLIENT, socket, address.port);
}

int32_t tcp_open_host(BasicString* address_text) {
    if (error_pending()) return 0;
    TcpAddress address;
    if (!read_address(address_text, 2, &address)) return 0;
    int32_t bound_port = 0;
    const PlatformSocket socket = platform_socket_listen(address.port, &bound_port);
    if (socket == PLATFORM_NO_SOCKET) return 0;
    return new_handle(SPECIAL_KIND_HOST, nullptr,
                      new_connection(NET_ROLE_HOST, socket, bound_port));
}

int32_t tcp_accept(int32_t host_handle) {
    if (error_pending()) return 0;
    const SpecialHandle* entry = entry_of(host_handle);
    if (entry == nullptr || entry->kind != SPECIAL_KIND_HOST) {
        error_raise(ERROR_INVALID_HANDLE);
        return 0;
    }
    const NetConnection* host = entry->connection;
    const PlatformSocket socket = platform_socket_accept(*host->socket_holder);
    if (socket == PLATFORM_NO_SOCKET) return 0;
    return new_stream_connection(NET_ROLE_ACCEPTED, socket, host->port);
}

BasicString* tcp_connection_address(int32_t host_handle) {
    if (error_pending()) return str_new(0, true);
    const SpecialHandle* entry = entry_of(host_handle);
    if (entry == nullptr || entry->kind != SPECIAL_KIND_HOST) {
        error_raise(ERROR_BAD_FILE_NUMBER);
        return str_new(0, true);
    }
    std::string external = tcp_external_address();
    if (external.empty()) external = "127.0.0.1";
    const std::string text = "TCP/IP:" + std::to_string(entry->connection->port) + ":" + external;
    BasicString* result = str_new(int32_t(text.size()), true);
    std::memcpy(result->chars, text.data(), text.size());
    return result;
}

NetStream* tcp_stream(int32_t handle) {
    const SpecialHandle* entry = entry_of(handle);
    return entry != nullptr && entry->kind == SPECIAL_KIND_STREAM ? entry->stream : nullptr;
}

int32_t tcp_send(NetStream* stream, const uint8_t* data, int32_t length) {
    if (stream == nullptr || stream->kind_marker != STREAM_MARKER_NETWORK) return 0;
    const NetConnection* c = stream->connection;
    if (c->transport != NET_TRANSPORT_TCP || c->role == NET_ROLE_HOST) return 0;
    if (length <= 0) return 0;
    int32_t error = 0;
    return platform_socket_send(*c->socket_holder, data, length, &error);
}

void tcp_receive(NetStream* stream) {
    if (stream == nullptr || stream->kind_marker != STREAM_MARKER_NETWORK) return;
    const NetConnection* c = stream->connection;
    if (c->transport != NET_TRANSPORT_TCP || c->role == NET_ROLE_HOST) return;
    if (stream->receive_capacity == 0) {
        stream->receive_data = static_cast<uint8_t*>(std::malloc(NET_RECEIVE_FIRST_CAPACITY));
        if (stream->receive_data == nullptr) error_raise(ERROR_CRITICAL_RECEIVE_BUFFER);
        stream->receive_capacity = NET_RECEIVE_FIRST_CAPACITY;
        stream->receive_used = 0;
    }
    for (;;) {
        if (stream->receive_used == stream->receive_capacity) {
            // What does not fit in a gigabyte stays in the socket for the next receive.
            if (stream->receive_capacity >= RECEIVE_CAPACITY_LIMIT) return;
            const int32_t capacity = stream->receive_capacity * 2;
            auto* grown =
                static_cast<uint8_t*>(std::realloc(stream->receive_data, size_t(capacity)));
            if (grown == nullptr) error_raise(ERROR_CRITICAL_RECEIVE_BUFFER);
            stream->receive_data = grown;
            stream->receive_capacity = capacity;
        }
        const int32_t room = stream->receive_capacity - stream->receive_used;
        int32_t error = 0;
        const int32_t got = platform_socket_receive(
            *c->socket_holder, stream->receive_data + stream->receive_used, room, &error);
        if (got < 0) {
            net.last_error = error;
            return;
        }
        if (got == 0) return; // closed by the peer
        stream->receive_used += got;
        if (got != room) return;
    }
}

void tcp_close(int32_t handle) {
    SpecialHandle* entry = entry_of(handle);
    if (entry == nullptr) {
        error_raise(ERROR_INVALID_HANDLE);
        return;
    }
    free_entry(entry);
}
