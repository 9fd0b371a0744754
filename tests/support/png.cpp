#include "support/png.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace {

uint32_t crc32_of(const uint8_t* data, size_t size, uint32_t crc = 0) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t adler32_of(const std::vector<uint8_t>& data) {
    uint32_t a = 1, b = 0;
    for (uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return b << 16 | a;
}

constexpr uint16_t LENGTH_BASE[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t DISTANCE_BASE[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t DISTANCE_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

class BitWriter {
  public:
    std::vector<uint8_t> bytes;
    void bits(uint32_t value, int count) {
        for (int i = 0; i < count; ++i) {
            if (used_ == 0) bytes.push_back(0);
            bytes.back() |= uint8_t(((value >> i) & 1) << used_);
            used_ = (used_ + 1) & 7;
        }
    }
    // Huffman codes go out most significant bit first.
    void code(uint32_t value, int length) {
        for (int i = length - 1; i >= 0; --i) bits((value >> i) & 1, 1);
    }

  private:
    int used_ = 0;
};

void fixed_symbol(BitWriter& out, int symbol) {
    if (symbol < 144)
        out.code(0x30 + symbol, 8);
    else if (symbol < 256)
        out.code(0x190 + symbol - 144, 9);
    else if (symbol < 280)
        out.code(symbol - 256, 7);
    else
        out.code(0xC0 + symbol - 280, 8);
}

std::vector<uint8_t> zlib_compress(const std::vector<uint8_t>& data) {
    BitWriter out;
    out.bits(0x78, 8);
    out.bits(0x01, 8);
    out.bits(1, 1); // final block
    out.bits(1, 2); // fixed Huffman codes
    constexpr size_t WINDOW = 32768, CHAIN = 64;
    std::vector<int32_t> head(1 << 15, -1), previous(data.size(), -1);
    auto hash = [&](size_t i) {
        return ((data[i] << 10) ^ (data[i + 1] << 5) ^ data[i + 2]) & 0x7FFF;
    };
    size_t i = 0;
    while (i < data.size()) {
        size_t best_length = 0, best_distance = 0;
        if (i + 2 < data.size()) {
            int32_t candidate = head[size_t(hash(i))];
            for (size_t n = 0; candidate >= 0 && n < CHAIN && i - size_t(candidate) <= WINDOW;
                 ++n, candidate = previous[size_t(candidate)]) {
                size_t length = 0;
                while (length < 258 && i + length < data.size() &&
                       data[size_t(candidate) + length] == data[i + length])
                    ++length;
                if (length > best_length) {
                    best_length = length;
                    best_distance = i - size_t(candidate);
                }
            }
        }
        size_t step = best_length >= 3 ? best_length : 1;
        if (best_length >= 3) {
            int code = 28;
            while (LENGTH_BASE[code] > best_length) --code;
            fixed_symbol(out, 257 + code);
            out.bits(uint32_t(best_length - LENGTH_BASE[code]), LENGTH_EXTRA[code]);
            int dcode = 29;
            while (DISTANCE_BASE[dcode] > best_distance) --dcode;
            out.code(uint32_t(dcode), 5);
            out.bits(uint32_t(best_distance - DISTANCE_BASE[dcode]), DISTANCE_EXTRA[dcode]);
        } else {
            fixed_symbol(out, data[i]);
        }
        for (size_t k = 0; k < step; ++k, ++i) {
            if (i + 2 < data.size()) {
                size_t h = size_t(hash(i));
                previous[i] = head[h];
                head[h] = int32_t(i);
            }
        }
    }
    fixed_symbol(out, 256);
    uint32_t adler = adler32_of(data);
    for (int shift = 24; shift >= 0; shift -= 8) out.bytes.push_back(uint8_t(adler >> shift));
    return out.bytes;
}

// Inflate after RFC 1951 (canonical Huffman decoding in the manner of zlib's "puff").
class Inflater {
  public:
    Inflater(const uint8_t* data, size_t size) : in_(data), size_(size) {}

    bool run(std::vector<uint8_t>& out) {
        if (size_ < 2 || (in_[0] & 0x0F) != 8 || ((in_[0] << 8) | in_[1]) % 31 != 0) return false;
        pos_ = 2;
        int last;
        do {
            last = bits(1);
            int type = bits(2);
            if (failed_) return false;
            if (type == 0) {
                bit_count_ = 0;
                if (pos_ + 4 > size_) return false;
                uint32_t length = in_[pos_] | in_[pos_ + 1] << 8;
                pos_ += 4;
                if (pos_ + length > size_) return false;
                out.insert(out.end(), in_ + pos_, in_ + pos_ + length);
                pos_ += length;
            } else if (type == 1) {
                Huffman lengths, distances;
                std::array<uint8_t, 288> l{};
                for (int s = 0; s < 288; ++s)
                    l[size_t(s)] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
                build(lengths, l.data(), 288);
                std::array<uint8_t, 30> d;
                d.fill(5);
                build(distances, d.data(), 30);
                if (!codes(out, lengths, distances)) return false;
            } else if (type == 2) {
                if (!dynamic(out)) return false;
            } else {
                return false;
            }
        } while (!last);
        return !failed_;
    }

  private:
    struct Huffman {
        std::array<uint16_t, 16> count{};
        std::array<uint16_t, 288> symbol{};
    };

    int bits(int need) {
        uint32_t value = 0;
        for (int i = 0; i < need; ++i) {
            if (bit_count_ == 0) {
                if (pos_ >= size_) {
                    failed_ = true;
                    return 0;
                }
                bit_buffer_ = in_[pos_++];
                bit_count_ = 8;
            }
            value |= uint32_t(bit_buffer_ & 1) << i;
            bit_buffer_ >>= 1;
            --bit_count_;
        }
        return int(value);
    }

    static void build(Huffman& h, const uint8_t* lengths, int n) {
        h.count.fill(0);
        for (int s = 0; s < n; ++s) ++h.count[lengths[s]];
        std::array<uint16_t, 16> offsets{};
        for (int len = 1; len < 15; ++len)
            offsets[size_t(len + 1)] = offsets[size_t(len)] + h.count[size_t(len)];
        for (int s = 0; s < n; ++s)
            if (lengths[s] != 0) h.symbol[offsets[lengths[s]]++] = uint16_t(s);
    }

    int decode(const Huffman& h) {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len < 16; ++len) {
            code |= bits(1);
            int count = h.count[size_t(len)];
            if (code - count < first) return h.symbol[size_t(index + (code - first))];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
            if (failed_) return -1;
        }
        failed_ = true;
        return -1;
    }

    bool codes(std::vector<uint8_t>& out, const Huffman& lengths, const Huffman& distances) {
        for (;;) {
            int symbol = decode(lengths);
            if (failed_ || symbol < 0) return false;
            if (symbol < 256) {
                out.push_back(uint8_t(symbol));
            } else if (symbol == 256) {
                return true;
            } else {
                symbol -= 257;
                if (symbol >= 29) return false;
                size_t length = LENGTH_BASE[symbol] + size_t(bits(LENGTH_EXTRA[symbol]));
                int dsym = decode(distances);
                if (dsym < 0 || dsym >= 30) return false;
                size_t distance = DISTANCE_BASE[dsym] + size_t(bits(DISTANCE_EXTRA[dsym]));
                if (failed_ || distance > out.size()) return false;
                for (size_t k = 0; k < length; ++k) out.push_back(out[out.size() - distance]);
            }
        }
    }

    bool dynamic(std::vector<uint8_t>& out) {
        static constexpr uint8_t ORDER[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                              11, 4,  12, 3, 13, 2, 14, 1, 15};
        int nlen = bits(5) + 257, ndist = bits(5) + 1, ncode = bits(4) + 4;
        if (nlen > 286 || ndist > 30) return false;
        std::array<uint8_t, 320> lengths{};
        for (int i = 0; i < ncode; ++i) lengths[ORDER[i]] = uint8_t(bits(3));
        Huffman code_lengths;
        build(code_lengths, lengths.data(), 19);
        lengths.fill(0);
        for (int i = 0; i < nlen + ndist;) {
            int symbol = decode(code_lengths);
            if (symbol < 0) return false;
            if (symbol < 16) {
                lengths[size_t(i++)] = uint8_t(symbol);
                continue;
            }
            uint8_t value = 0;
            int repeat;
            if (symbol == 16) {
                if (i == 0) return false;
                value = lengths[size_t(i - 1)];
                repeat = 3 + bits(2);
            } else if (symbol == 17) {
                repeat = 3 + bits(3);
            } else {
                repeat = 11 + bits(7);
            }
            if (i + repeat > nlen + ndist) return false;
            while (repeat--) lengths[size_t(i++)] = value;
        }
        Huffman literal, distance;
        build(literal, lengths.data(), nlen);
        build(distance, lengths.data() + nlen, ndist);
        return codes(out, literal, distance);
    }

    const uint8_t* in_;
    size_t size_;
    size_t pos_ = 0;
    uint32_t bit_buffer_ = 0;
    int bit_count_ = 0;
    bool failed_ = false;
};

void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
}

void put_chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    put32(out, uint32_t(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32(out, crc32_of(out.data() + start, out.size() - start));
}

constexpr uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

int paeth(int a, int b, int c) {
    int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

} // namespace

bool png_write(const std::string& path, const PngImage& image) {
    std::vector<uint32_t> palette;
    std::vector<uint8_t> raw;
    bool indexed = true;
    for (uint32_t pixel : image.pixels) {
        bool known = false;
        for (uint32_t c : palette) known |= c == pixel;
        if (!known) {
            if (palette.size() == 256) {
                indexed = false;
                break;
            }
            palette.push_back(pixel);
        }
    }
    for (int32_t y = 0; y < image.height; ++y) {
        raw.push_back(0); // filter: none
        for (int32_t x = 0; x < image.width; ++x) {
            uint32_t p = image.pixels[size_t(y) * size_t(image.width) + size_t(x)];
            if (indexed) {
                size_t index = 0;
                while (palette[index] != p) ++index;
                raw.push_back(uint8_t(index));
            } else {
                raw.insert(raw.end(),
                           {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(p >> 24)});
            }
        }
    }
    std::vector<uint8_t> file(PNG_SIGNATURE, PNG_SIGNATURE + 8), header;
    put32(header, uint32_t(image.width));
    put32(header, uint32_t(image.height));
    header.insert(header.end(), {8, uint8_t(indexed ? 3 : 6), 0, 0, 0});
    put_chunk(file, "IHDR", header);
    if (indexed) {
        std::vector<uint8_t> plte, trns;
        bool translucent = false;
        for (uint32_t c : palette) {
            plte.insert(plte.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
            trns.push_back(uint8_t(c >> 24));
            translucent |= (c >> 24) != 0xFF;
        }
        put_chunk(file, "PLTE", plte);
        if (translucent) put_chunk(file, "tRNS", trns);
    }
    put_chunk(file, "IDAT", zlib_compress(raw));
    put_chunk(file, "IEND", {});
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    return std::fclose(f) == 0 && ok;
}

bool png_read(const std::string& path, PngImage& image) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::vector<uint8_t> file;
    uint8_t buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        file.insert(file.end(), buffer, buffer + got);
    std::fclose(f);
    if (file.size() < 8 || std::memcmp(file.data(), PNG_SIGNATURE, 8) != 0) return false;
    int colour_type = -1;
    std::vector<uint8_t> idat;
    std::vector<uint32_t> palette;
    for (size_t pos = 8; pos + 12 <= file.size();) {
        uint32_t length = get32(&file[pos]);
        if (pos + 12 + length > file.size()) return false;
        const uint8_t* type = &file[pos + 4];
        const uint8_t* data = &file[pos + 8];
        if (crc32_of(type, length + 4) != get32(data + length)) return false;
        if (std::memcmp(type, "IHDR", 4) == 0) {
            image.width = int32_t(get32(data));
            image.height = int32_t(get32(data + 4));
            colour_type = data[9];
            if (data[8] != 8 || data[12] != 0 ||
                (colour_type != 2 && colour_type != 3 && colour_type != 6))
                return false;
        } else if (std::memcmp(type, "PLTE", 4) == 0) {
            for (uint32_t i = 0; i + 2 < length; i += 3)
                palette.push_back(0xFF000000u | data[i] << 16 | data[i + 1] << 8 | data[i + 2]);
        } else if (std::memcmp(type, "tRNS", 4) == 0) {
            for (uint32_t i = 0; i < length && i < palette.size(); ++i)
                palette[i] = (palette[i] & 0xFFFFFF) | uint32_t(data[i]) << 24;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            idat.insert(idat.end(), data, data + length);
        }
        pos += 12 + length;
    }
    if (colour_type < 0 || image.width <= 0 || image.height <= 0) return false;
    std::vector<uint8_t> raw;
    if (!Inflater(idat.data(), idat.size()).run(raw)) return false;
    size_t channels = colour_type == 3 ? 1 : colour_type == 2 ? 3 : 4;
    size_t stride = size_t(image.width) * channels;
    if (raw.size() < (stride + 1) * size_t(image.height)) return false;
    std::vector<uint8_t> line(stride), above(stride, 0);
    image.pixels.assign(size_t(image.width) * size_t(image.height), 0);
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t* in = &raw[size_t(y) * (stride + 1)];
        for (size_t x = 0; x < stride; ++x) {
            int a = x >= channels ? line[x - channels] : 0, b = above[x],
                c = x >= channels ? above[x - channels] : 0;
            int predictor = 0;
            switch (in[0]) {
            case 0: break;
            case 1: predictor = a; break;
            case 2: predictor = b; break;
            case 3: predictor = (a + b) / 2; break;
            case 4: predictor = paeth(a, b, c); break;
            default: return false;
            }
            line[x] = uint8_t(in[1 + x] + predictor);
        }
        for (int32_t x = 0; x < image.width; ++x) {
            const uint8_t* p = &line[size_t(x) * channels];
            uint32_t colour;
            if (channels == 1) {
                if (p[0] >= palette.size()) return false;
                colour = palette[p[0]];
            } else {
                colour =
                    uint32_t(channels == 4 ? p[3] : 0xFF) << 24 | p[0] << 16 | p[1] << 8 | p[2];
            }
            image.pixels[size_t(y) * size_t(image.width) + size_t(x)] = colour;
        }
        above.swap(line);
    }
    return true;
}
