// Serial ports on Windows: the COMn: device with its DCB and timeouts.
#include "runtime/platform/platform.h"

#include <cstdio>
#include <windows.h>

#include "runtime/platform/win32/file_handle.h"

int32_t platform_serial_open(int32_t port, uint32_t access, const PlatformSerialConfig& config,
                             PlatformFile* file) {
    *file = PLATFORM_FILE_NONE;
    if (port < 1 || port > 255) return FILE_RESULT_BAD_SERIAL_OPTIONS;
    char device[16];
    std::snprintf(device, sizeof device, "COM%d:", int(port));
    DWORD desired = 0;
    if (access & PLATFORM_ACCESS_READ) desired |= GENERIC_READ;
    if (access & PLATFORM_ACCESS_WRITE) desired |= GENERIC_WRITE;
    HANDLE h =
        CreateFileA(device, desired, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return win32_open_result(GetLastError());
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    bool ok = GetCommState(h, &dcb) != 0;
    if (ok) {
        dcb.BaudRate = config.baud;
        dcb.ByteSize = config.data_bits;
        dcb.StopBits = config.stop_tenths == 15   ? ONE5STOPBITS
                       : config.stop_tenths == 20 ? TWOSTOPBITS
                                                  : ONESTOPBIT;
        constexpr BYTE PARITIES[] = {NOPARITY, EVENPARITY, ODDPARITY, SPACEPARITY, MARKPARITY};
        dcb.Parity = PARITIES[config.parity <= 4 ? config.parity : 1];
        dcb.fParity = config.parity != 0;
        if (config.rts_off) dcb.fRtsControl = RTS_CONTROL_DISABLE;
        dcb.fBinary = config.binary;
        dcb.EofChar = 26;
        ok = SetCommState(h, &dcb) != 0;
    }
    if (ok) {
        COMMTIMEOUTS timeouts;
        ZeroMemory(&timeouts, sizeof timeouts);
        if (config.read_timeout_ms != 0) {
            timeouts.ReadTotalTimeoutConstant = config.read_timeout_ms;
        } else {
            timeouts.ReadIntervalTimeout = MAXDWORD; // return at once with what has arrived
        }
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = config.write_timeout_ms;
        ok = SetCommTimeouts(h, &timeouts) != 0;
    }
    if (!ok) {
        CloseHandle(h);
        return FILE_RESULT_DEVICE_UNAVAILABLE;
    }
    *file = reinterpret_cast<PlatformFile>(h);
    return FILE_RESULT_OK;
}

bool platform_pty_open(PlatformFile* controller, std::string* device_path) {
    // Windows has no pseudo-terminal that a COMn: name reaches.
    *controller = PLATFORM_FILE_NONE;
    device_path->clear();
    return false;
}
