// Serial ports on POSIX: a terminal device configured through termios with the settings a
// Windows DCB would get, and reads and writes bounded by the port's timeouts through poll().
#include "runtime/platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "runtime/platform/posix/file_handle.h"

namespace {

struct BaudCode {
    uint32_t baud;
    speed_t code;
};

constexpr BaudCode BAUD_CODES[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool baud_code(uint32_t baud, speed_t* code) {
    for (const BaudCode& b : BAUD_CODES) {
        if (b.baud == baud) {
            *code = b.code;
            return true;
        }
    }
    return false;
}

bool configure(int fd, const PlatformSerialConfig& config) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    speed_t speed = 0;
    if (!baud_code(config.baud, &speed)) return false;
    cfmakeraw(&tio);
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return false;
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB | CMSPAR | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    constexpr tcflag_t SIZES[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= SIZES[config.data_bits - 5];
    // termios knows one or two stop bits; the line sends 1.5 when two are asked with 5 bits.
    if (config.stop_tenths > 10) tio.c_cflag |= CSTOPB;
    switch (config.parity) {
    case 1: tio.c_cflag |= PARENB; break;
    case 2: tio.c_cflag |= PARENB | PARODD; break;
    case 3: tio.c_cflag |= PARENB | CMSPAR; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    default: break;
    }
    if (config.parity != 0) tio.c_iflag |= INPCK;
    // Reads are bounded by poll(), so the driver itself never waits.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return false;
    if (config.rts_off) {
        int rts = TIOCM_RTS;
        ioctl(fd, TIOCMBIC, &rts); // a line without modem control (a pseudo-terminal) has none
    }
    return true;
}

int64_t now_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Waits for the descriptor to become ready; false when the deadline (-1: none) passes first.
bool wait_ready(int fd, short events, int64_t deadline_ms) {
    for (;;) {
        int timeout = -1;
        if (deadline_ms >= 0) {
            int64_t left = deadline_ms - now_ms();
            timeout = left < 0 ? 0 : int(left);
        }
        pollfd p{fd, events, 0};
        int n = poll(&p, 1, timeout);
        if (n > 0) return true;
        if (n == 0) return false;
        if (errno != EINTR) return false;
    }
}

} // namespace

int32_t posix_stream_read(PosixFile& f, void* buffer, int64_t count, int64_t* done) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    int64_t deadline = now_ms() + f.read_timeout_ms;
    while (*done < count) {
        ssize_t n = read(f.fd, bytes + *done, size_t(count - *done));
        if (n > 0) {
            *done += n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return posix_errno_result(errno);
        if (f.read_timeout_ms == 0 || !wait_ready(f.fd, POLLIN, deadline)) break;
    }
    return FILE_RESULT_OK;
}

int32_t posix_stream_write(PosixFile& f, const void* data, int64_t count, int64_t* done) {
    auto* bytes = static_cast<const uint8_t*>(data);
    int64_t deadline = f.write_timeout_ms == 0 ? -1 : now_ms() + f.write_timeout_ms;
    while (*done < count) {
        ssize_t n = write(f.fd, bytes + *done, size_t(count - *done));
        if (n > 0) {
            *done += n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return posix_errno_result(errno);
        if (!wait_ready(f.fd, POLLOUT, deadline)) break;
    }
    return FILE_RESULT_OK;
}

int32_t platform_serial_open(int32_t port, uint32_t access, const PlatformSerialConfig& config,
                             PlatformFile* file) {
    *file = PLATFORM_FILE_NONE;
    if (port < 1 || port > 255) return FILE_RESULT_BAD_SERIAL_OPTIONS;
    char variable[16];
    std::snprintf(variable, sizeof variable, "UNVEILO_COM%d", int(port));
    char device[32];
    std::snprintf(device, sizeof device, "/dev/ttyS%d", int(port - 1));
    const char* given = std::getenv(variable);
    std::string path = posix_path(given && *given ? given : device);
    int flags = O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    if ((access & PLATFORM_ACCESS_READ) && (access & PLATFORM_ACCESS_WRITE))
        flags |= O_RDWR;
    else if (access & PLATFORM_ACCESS_WRITE)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    int fd = open(path.c_str(), flags);
    if (fd < 0) return posix_errno_result(errno);
    // No sharing: a second open of the line fails while this one holds it, in other processes
    // through the terminal's exclusive mode (which a superuser passes) and in this one through
    // the sharing check.
    if (ioctl(fd, TIOCEXCL) != 0 || !configure(fd, config)) {
        close(fd);
        return FILE_RESULT_DEVICE_UNAVAILABLE;
    }
    auto* f = new PosixFile{};
    f->fd = fd;
    f->access = access;
    if (!posix_share_admit(f)) {
        close(fd);
        delete f;
        return FILE_RESULT_PERMISSION_DENIED;
    }
    f->is_serial = true;
    f->read_timeout_ms = config.read_timeout_ms;
    f->write_timeout_ms = config.write_timeout_ms;
    *file = reinterpret_cast<PlatformFile>(f);
    return FILE_RESULT_OK;
}

bool platform_pty_open(PlatformFile* controller, std::string* device_path) {
    *controller = PLATFORM_FILE_NONE;
    int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    char name[128];
    if (grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, name, sizeof name) != 0) {
        close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    auto* f = new PosixFile{};
    f->fd = fd;
    f->access = PLATFORM_ACCESS_READ | PLATFORM_ACCESS_WRITE;
    f->is_serial = true;
    f->read_timeout_ms = 2000;
    f->write_timeout_ms = 2000;
    *device_path = name;
    *controller = reinterpret_cast<PlatformFile>(f);
    return true;
}
