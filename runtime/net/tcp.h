#pragma once
// TCP/IP connections as numbered handles: clients, hosts (listening sockets) and the
// connections a host accepts. Program thread only.
//
// Handles are negative, the complement of their entry in the special-handle table, so that
// they never collide with file numbers; 0 means no connection. An address text has parts
// separated by ":": the transport "TCP/IP" (any letter case), the port, and for a client the
// host name. A malformed address raises error 5; a name that does not resolve, a refused
// connection, a port that cannot be bound and a port outside 0 to 65535 give 0 without an
// error. Host port 0 lets the system pick a free port; the host then reports that port.
//
// The external address of tcp_connection_address comes from an address-lookup web server,
// checkip.dyndns.org port 80 unless UNVEILO_ADDRESS_SERVER ("host" or "host:port") names
// another one; "127.0.0.1" when no address can be had.
#include <cstdint>

#include "runtime/strings/str.h"

struct NetStream;

// Each first checks for a pending run-time error and then does nothing and returns 0 (or an
// empty string). The address text is consumed by the memory rule.
int32_t tcp_open_client(BasicString* address);
int32_t tcp_open_host(BasicString* address);
// A newly accepted connection, or 0 when none is waiting. Error 258 for a handle that is not a
// host.
int32_t tcp_accept(int32_t host_handle);
// "TCP/IP:<port>:<external address>" for a host; error 52 and an empty string otherwise.
BasicString* tcp_connection_address(int32_t host_handle);

// The stream of a client or accepted connection, for the stream layer; nullptr for any other
// handle.
NetStream* tcp_stream(int32_t handle);
// Sends what the socket takes now and returns the count, or -1 when it takes nothing (or the
// connection has failed); 0 and nothing sent for a stream that cannot be written to.
int32_t tcp_send(NetStream* stream, const uint8_t* data, int32_t length);
// Appends whatever has arrived to the stream's receive buffer, growing it as needed.
void tcp_receive(NetStream* stream);
// Closes the socket of a stream connection or a host and frees its records; error 258 for a
// handle that is neither.
void tcp_close(int32_t handle);
