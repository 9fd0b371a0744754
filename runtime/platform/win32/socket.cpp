// Windows Sockets 1.1 calls, through ws2_32.
// winsock2.h brings windows.h with it, in the order the two need.
#include <winsock2.h>

#include <cstring>

#include "runtime/platform/platform.h"

namespace {

// Program thread only: every open happens there.
bool sockets_started = false;

bool start_sockets() {
    if (sockets_started) return true;
    WSADATA data;
    if (::WSAStartup(257, &data) != 0) return false; // version 1.1
    sockets_started = true;
    return true;
}

// Not inherited, so that shell commands do not hold the program's connections and ports.
SOCKET new_socket() {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET) ::SetHandleInformation(HANDLE(s), HANDLE_FLAG_INHERIT, 0);
    return s;
}

bool make_non_blocking(SOCKET s) {
    u_long yes = 1;
    return ::ioctlsocket(s, FIONBIO, &yes) == 0;
}

} // namespace

PlatformSocket platform_socket_connect(const char* host, int32_t port) {
    if (!start_sockets()) return PLATFORM_NO_SOCKET;
    const hostent* found = ::gethostbyname(host);
    if (found == nullptr || found->h_addrtype != AF_INET || found->h_addr_list[0] == nullptr)
        return PLATFORM_NO_SOCKET;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    std::memcpy(&address.sin_addr, found->h_addr_list[0], sizeof address.sin_addr);
    address.sin_port = ::htons(u_short(port));

    const SOCKET s = new_socket();
    if (s == INVALID_SOCKET) return PLATFORM_NO_SOCKET;
    if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        !make_non_blocking(s)) {
        ::closesocket(s);
        return PLATFORM_NO_SOCKET;
    }
    return PlatformSocket(s);
}

PlatformSocket platform_socket_listen(int32_t port, int32_t* bound_port) {
    if (!start_sockets()) return PLATFORM_NO_SOCKET;
    const SOCKET s = new_socket();
    if (s == INVALID_SOCKET) return PLATFORM_NO_SOCKET;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_ANY);
    address.sin_port = ::htons(u_short(port));
    int size = sizeof address;
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(s, SOMAXCONN) != 0 || !make_non_blocking(s) ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::closesocket(s);
        return PLATFORM_NO_SOCKET;
    }
    *bound_port = ::ntohs(address.sin_port);
    return PlatformSocket(s);
}

PlatformSocket platform_socket_accept(PlatformSocket listener) {
    const SOCKET s = ::accept(SOCKET(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) return PLATFORM_NO_SOCKET;
    ::SetHandleInformation(HANDLE(s), HANDLE_FLAG_INHERIT, 0);
    // A socket accepted from a non-blocking listener is non-blocking already; saying so again
    // costs nothing and does not lean on that rule.
    if (!make_non_blocking(s)) {
        ::closesocket(s);
        return PLATFORM_NO_SOCKET;
    }
    return PlatformSocket(s);
}

int32_t platform_socket_send(PlatformSocket s, const void* data, int32_t length, int32_t* error) {
    const int sent = ::send(SOCKET(s), static_cast<const char*>(data), length, 0);
    if (sent == SOCKET_ERROR) {
        *error = ::WSAGetLastError();
        return -1;
    }
    return sent;
}

int32_t platform_socket_receive(PlatformSocket s, void* data, int32_t length, int32_t* error) {
    const int got = ::recv(SOCKET(s), static_cast<char*>(data), length, 0);
    if (got == SOCKET_ERROR) {
        *error = ::WSAGetLastError();
        return -1;
    }
    return got;
}

bool platform_socket_would_block(int32_t error) {
    return error == WSAEWOULDBLOCK;
}

void platform_socket_close(PlatformSocket s) {
    if (s != PLATFORM_NO_SOCKET) ::closesocket(SOCKET(s));
}
