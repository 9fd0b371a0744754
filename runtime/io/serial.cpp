// Serial ports: parsed options turned into the platform's line settings.
#include "runtime/io/detail.h"

int32_t serial_open(int32_t port, uint32_t access, const ComSettings& settings,
                    PlatformFile* file) {
    PlatformSerialConfig config;
    config.baud = uint32_t(settings.baud);
    // The PE option asks for even parity with errors checked, which is what E already does on
    // every line driver reached here.
    config.parity = uint8_t(settings.parity == 5 ? 1 : settings.parity);
    config.data_bits = uint8_t(settings.data_bits);
    config.stop_tenths = uint8_t(settings.stop_bits);
    config.binary = settings.ascii_mode == 0;
    config.rts_off = settings.suppress_rts != 0;
    config.read_timeout_ms = uint32_t(settings.ds_ms);
    config.write_timeout_ms = uint32_t(settings.cs_ms);
    return platform_serial_open(port, access, config, file);
}
