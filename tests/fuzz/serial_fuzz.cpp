// libFuzzer entry for the COMn: name test and the serial options parser: any accepted text must
// give settings inside their ranges, and writing those settings back out as options must parse
// to the very same settings.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/io/detail.h"

namespace {

[[noreturn]] void fail(const char* what, const std::string& text) {
    std::fprintf(stderr, "serial options: %s for \"%s\"\n", what, text.c_str());
    std::abort();
}

std::string options_text(const ComSettings& s) {
    static const char* const PARITIES[] = {"N", "E", "O", "S", "M", "PE"};
    static const char* const STOPS[] = {"1", "1.5", "2"};
    std::string text = std::to_string(s.baud) + "," + PARITIES[s.parity] + "," +
                       std::to_string(s.data_bits) + "," + STOPS[(s.stop_bits - 10) / 5];
    if (s.suppress_rts) text += ",RS";
    text += s.ascii_mode ? ",ASC" : ",BIN";
    if (s.transmit_buffer) text += ",TB";
    if (s.receive_buffer) text += ",RB";
    if (s.line_feed) text += ",LF";
    text += ",CD" + std::to_string(s.cd_ms) + ",CS" + std::to_string(s.cs_ms) + ",DS" +
            std::to_string(s.ds_ms) + ",OP" + std::to_string(s.op_ms);
    return text;
}

bool in_range(const ComSettings& s) {
    auto flag = [](int8_t v) { return v == 0 || v == 1; };
    auto ms = [](int32_t v) { return v >= 0 && v <= 65535; };
    return s.baud > 0 && s.parity >= 0 && s.parity <= 5 && s.data_bits >= 5 && s.data_bits <= 8 &&
           (s.stop_bits == 10 || s.stop_bits == 15 || s.stop_bits == 20) && flag(s.ascii_mode) &&
           flag(s.line_feed) && flag(s.suppress_rts) && flag(s.transmit_buffer) &&
           flag(s.receive_buffer) && ms(s.cd_ms) && ms(s.cs_ms) && ms(s.ds_ms) && ms(s.op_ms);
}

// Field by field: the struct's padding holds nothing worth comparing.
bool same(const ComSettings& a, const ComSettings& b) {
    return a.baud == b.baud && a.parity == b.parity && a.data_bits == b.data_bits &&
           a.stop_bits == b.stop_bits && a.ascii_mode == b.ascii_mode &&
           a.line_feed == b.line_feed && a.suppress_rts == b.suppress_rts && a.cd_ms == b.cd_ms &&
           a.cs_ms == b.cs_ms && a.ds_ms == b.ds_ms && a.op_ms == b.op_ms &&
           a.transmit_buffer == b.transmit_buffer && a.receive_buffer == b.receive_buffer;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    std::string shown(text, size);

    FileNameInfo name = file_name_kind(text, size);
    if (name.kind == FileNameKind::serial && (name.port < 1 || name.port > 255))
        fail("port out of range", shown);
    if (name.kind != FileNameKind::file && name.options_at > size) fail("options past end", shown);

    ComSettings settings;
    if (!serial_options_parse(text, size, &settings)) return 0;
    if (!in_range(settings)) fail("setting out of range", shown);
    std::string again = options_text(settings);
    ComSettings reparsed;
    if (!serial_options_parse(again.data(), again.size(), &reparsed))
        fail("own text refused", again);
    if (!same(settings, reparsed)) fail("round trip differs", again);
    return 0;
}
