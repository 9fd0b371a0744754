#pragma once
// The records behind TCP/IP handles and the pieces the tests and the fuzzer reach directly.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/net/tcp.h"
#include "runtime/platform/platform.h"

constexpr uint8_t NET_TRANSPORT_TCP = 1;
constexpr uint8_t NET_ROLE_CLIENT = 1;
constexpr uint8_t NET_ROLE_HOST = 2;
constexpr uint8_t NET_ROLE_ACCEPTED = 3;
constexpr int32_t SPECIAL_KIND_STREAM = 1;
constexpr int32_t SPECIAL_KIND_HOST = 2;
constexpr uint8_t STREAM_MARKER_NETWORK = 1;
constexpr int32_t NET_RECEIVE_FIRST_CAPACITY = 1024;
constexpr int32_t ADDRESS_SERVER_PORT = 80;
constexpr const char* ADDRESS_SERVER_HOST = "checkip.dyndns.org";
constexpr int32_t ADDRESS_QUERY_TIMEOUT_MS = 5000;
constexpr int32_t ADDRESS_QUERY_POLL_MS = 100;

struct NetConnection {
    uint8_t transport = 0;
    uint8_t role = 0;
    PlatformSocket* socket_holder = nullptr; // heap cell holding the socket
    int32_t port = 0;
};

struct NetStream {
    // Fields of the stream layer, zero when opened.
    int64_t read_position = 0;
    uint8_t* buffer = nullptr;
    int32_t buffer_used = 0;
    uint8_t kind_marker = 0; // STREAM_MARKER_NETWORK
    NetConnection* connection = nullptr;
    uint8_t* receive_data = nullptr; // malloc'd; the stream layer takes bytes from the front
    int32_t receive_used = 0;
    int32_t receive_capacity = 0; // 0 until the first receive
};

struct SpecialHandle {
    int32_t kind = 0;                    // SPECIAL_KIND_*; 0 for a free entry
    NetStream* stream = nullptr;         // kind 1
    NetConnection* connection = nullptr; // kind 2
};

// A growable pool of fixed records whose freed entries are reused; records never move.
template <typename Record> struct NetPool {
    std::vector<std::unique_ptr<Record>> records;
    std::vector<Record*> free_records;
    Record* take() {
        if (free_records.empty()) {
            records.push_back(std::make_unique<Record>());
            return records.back().get();
        }
        Record* r = free_records.back();
        free_records.pop_back();
        *r = Record{};
        return r;
    }
    void give_back(Record* r) { free_records.push_back(r); }
    size_t in_use() const { return records.size() - free_records.size(); }
};

struct NetState {
    std::vector<SpecialHandle> special_handles; // entry n is handle ~n; kind 0 when free
    NetPool<NetStream> streams;
    NetPool<NetConnection> connections;
    int32_t last_error = 0; // the system's error number of the last failed receive
};
extern NetState net;

// Closes every socket and empties the tables.
void net_reset();

enum class TcpAddressStatus { ok, malformed, bad_port };
struct TcpAddress {
    int32_t port = 0;
    std::string host; // third part of a client address; may hold any byte
};
// Splits an address text of exactly `parts` parts (2 for a host, 3 for a client).
TcpAddressStatus tcp_parse_address(const uint8_t* text, int32_t length, int32_t parts,
                                   TcpAddress* out);
// The first dotted IPv4 address in a server's answer, or an empty text.
std::string tcp_scan_address(const std::string& answer);
// Asks the address-lookup server for this machine's external address; empty when it fails.
std::string tcp_external_address();
