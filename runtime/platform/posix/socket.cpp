// BSD sockets.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "runtime/platform/platform.h"

namespace {

// Close-on-exec keeps shell commands from inheriting the program's connections, and with
// them its ports.
int new_socket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
}

bool make_non_blocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

} // namespace

PlatformSocket platform_socket_connect(const char* host, int32_t port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr)
        return PLATFORM_NO_SOCKET;
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    ::freeaddrinfo(found);
    address.sin_port = htons(uint16_t(port));

    const int fd = new_socket();
    if (fd < 0) return PLATFORM_NO_SOCKET;
    int result;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0 || !make_non_blocking(fd)) {
        ::close(fd);
        return PLATFORM_NO_SOCKET;
    }
    return fd;
}

PlatformSocket platform_socket_listen(int32_t port, int32_t* bound_port) {
    const int fd = new_socket();
    if (fd < 0) return PLATFORM_NO_SOCKET;
    // Windows lets a listener take a port whose earlier connections linger in TIME_WAIT; this
    // option gives BSD sockets the same rule (it does not allow two listeners on one port).
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(uint16_t(port));
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, SOMAXCONN) != 0 || !make_non_blocking(fd) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(fd);
        return PLATFORM_NO_SOCKET;
    }
    *bound_port = ntohs(address.sin_port);
    return fd;
}

PlatformSocket platform_socket_accept(PlatformSocket listener) {
    int fd;
    do {
        fd = ::accept4(int(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? PLATFORM_NO_SOCKET : fd;
}

int32_t platform_socket_send(PlatformSocket s, const void* data, int32_t length, int32_t* error) {
    ssize_t sent;
    do {
        sent = ::send(int(s), data, size_t(length), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) *error = errno;
    return int32_t(sent);
}

int32_t platform_socket_receive(PlatformSocket s, void* data, int32_t length, int32_t* error) {
    ssize_t got;
    do {
        got = ::recv(int(s), data, size_t(length), 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) *error = errno;
    return int32_t(got);
}

bool platform_socket_would_block(int32_t error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

void platform_socket_close(PlatformSocket s) {
    if (s != PLATFORM_NO_SOCKET) ::close(int(s));
}
