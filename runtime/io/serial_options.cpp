// The COMn: name test and the options that follow the colon:
//   COMn:[baud][,[parity][,[data][,[stop][,option]...]]]
// with the options RS, BIN, ASC, TB, RB, LF and CDm, CSm, DSm, OPm in any order, each once.
// BIN only states the default: the port is binary unless ASC is given, so BIN with ASC is text.
// Letters of the options are capitals only; the COM of the name may be in any case.
#include <cstring>

#include "runtime/io/detail.h"

namespace {

constexpr int64_t UNSET = -1;
constexpr int64_t MAX_TIMEOUT_MS = 65535;

struct Field {
    const char* text;
    size_t length;
    bool is(const char* word) const {
        return length == std::strlen(word) && std::memcmp(text, word, length) == 0;
    }
};

// Digits only, at least one, at most `limit`; false for anything else.
bool parse_number(const char* text, size_t length, int64_t limit, int64_t* value) {
    if (length == 0) return false;
    int64_t v = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
        if (v > limit) return false;
    }
    *value = v;
    return true;
}

bool is_upper(char c, char letter) {
    return c == letter || c == letter + ('a' - 'A');
}

} // namespace

FileNameInfo file_name_kind(const char* name, size_t length) {
    FileNameInfo info;
    if (length < 5 || !is_upper(name[0], 'C') || !is_upper(name[1], 'O') || !is_upper(name[2], 'M'))
        return info;
    size_t digits_end = 3;
    while (digits_end < length && name[digits_end] >= '0' && name[digits_end] <= '9') ++digits_end;
    // COM, then at least one digit, then the colon; a leading zero keeps it an ordinary name.
    if (digits_end == 3 || digits_end >= length || name[digits_end] != ':' || name[3] == '0')
        return info;
    int64_t port = 0;
    info.options_at = digits_end + 1;
    if (!parse_number(name + 3, digits_end - 3, 255, &port) || port < 1) {
        info.kind = FileNameKind::bad_serial;
        return info;
    }
    info.kind = FileNameKind::serial;
    info.port = int32_t(port);
    return info;
}

bool serial_options_parse(const char* text, size_t length, ComSettings* settings) {
    int64_t baud = UNSET, parity = UNSET, data_bits = UNSET, stop = UNSET;
    int64_t cd = UNSET, cs = UNSET, ds = UNSET, op = UNSET;
    int rs = 0, bin = 0, asc = 0, tb = 0, rb = 0, lf = 0; // bin only guards against a repeat
    size_t field_index = 0;
    size_t start = 0;
    while (start <= length) {
        size_t end = start;
        while (end < length && text[end] != ',') ++end;
        Field f{text + start, end - start};
        size_t index = field_index++;
        start = end + 1;
        if (f.length == 0) continue; // every field may be left empty
        if (index == 0) {
            if (!parse_number(f.text, f.length, INT32_MAX, &baud) || baud == 0) return false;
        } else if (index == 1) {
            constexpr const char* PARITIES[] = {"N", "E", "O", "S", "M", "PE"};
            for (int64_t p = 0; p < 6; ++p)
                if (f.is(PARITIES[p])) parity = p;
            if (parity == UNSET) return false;
        } else if (index == 2) {
            if (f.length != 1 || f.text[0] < '5' || f.text[0] > '8') return false;
            data_bits = f.text[0] - '0';
        } else if (index == 3) {
            if (f.is("1"))
                stop = 10;
            else if (f.is("1.5"))
                stop = 15;
            else if (f.is("2"))
                stop = 20;
            else
                return false;
        } else {
            int* flag = f.is("RS")    ? &rs
                        : f.is("BIN") ? &bin
                        : f.is("ASC") ? &asc
                        : f.is("TB")  ? &tb
                        : f.is("RB")  ? &rb
                        : f.is("LF")  ? &lf
                                      : nullptr;
            if (flag) {
                if (*flag) return false; // each option once
                *flag = 1;
                continue;
            }
            if (f.length < 2) return false;
            int64_t* timeout = nullptr;
            if (f.text[0] == 'C' && f.text[1] == 'D')
                timeout = &cd;
            else if (f.text[0] == 'C' && f.text[1] == 'S')
                timeout = &cs;
            else if (f.text[0] == 'D' && f.text[1] == 'S')
                timeout = &ds;
            else if (f.text[0] == 'O' && f.text[1] == 'P')
                timeout = &op;
            if (!timeout || *timeout != UNSET) return false;
            if (!parse_number(f.text + 2, f.length - 2, MAX_TIMEOUT_MS, timeout)) return false;
        }
    }
    ComSettings s;
    s.baud = int32_t(baud == UNSET ? 300 : baud);
    s.parity = int8_t(parity == UNSET ? 1 : parity);
    s.data_bits = int8_t(data_bits == UNSET ? 7 : data_bits);
    if (stop != UNSET)
        s.stop_bits = int8_t(stop);
    else if (s.baud > 110)
        s.stop_bits = 10;
    else
        s.stop_bits = s.data_bits == 5 ? 15 : 20;
    s.ascii_mode = int8_t(asc);
    s.line_feed = int8_t(lf);
    s.suppress_rts = int8_t(rs);
    s.transmit_buffer = int8_t(tb);
    s.receive_buffer = int8_t(rb);
    s.cd_ms = int32_t(cd == UNSET ? 0 : cd);
    s.cs_ms = int32_t(cs == UNSET ? 1000 : cs);
    s.ds_ms = int32_t(ds == UNSET ? 1000 : ds);
    if (op == UNSET) {
        int64_t larger = s.cd_ms > s.ds_ms ? s.cd_ms : s.ds_ms;
        op = larger * 10 > MAX_TIMEOUT_MS ? MAX_TIMEOUT_MS : larger * 10;
    }
    s.op_ms = int32_t(op);
    *settings = s;
    return true;
}
