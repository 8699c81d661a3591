#include "PgmFile/file_reader.h"

#include "PgmFile/pgmfile_text.h"

#include <cctype>

namespace morvane::pgmfile {

using logger::translate;

namespace {

// Value of each character as a hex digit, or -1. Deliberately not strtoull: that would let
// blanks, a sign or a "0x" prefix through ("-1" would read as all ones). A table, because
// the digits and letters of firmware data alternate at random and defeat branch prediction.
struct hex_table {
    signed char value[256];
    constexpr hex_table() : value() {
        for (int c = 0; c < 256; ++c)
            value[c] = static_cast<signed char>(c >= '0' && c <= '9'   ? c - '0'
                                                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                                       : -1);
    }
};
constexpr hex_table HexTable;

inline int hexDigit(char c) { return HexTable.value[static_cast<unsigned char>(c)]; }

[[noreturn]] void throwInvalidHex(const std::string& hex) {
    throw pgmfile_exception(pgmText("Invalid hex string - ' {1}'", hex));
}

}  // namespace

std::string file_reader::trim(const std::string& text) {
    auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    std::string::size_type first = 0, last = text.size();
    while (first < last && space(text[first])) ++first;
    while (last > first && space(text[last - 1])) --last;
    return text.substr(first, last - first);
}

std::string file_reader::reverseBytes(const std::string& hex) {
    std::string out;
    out.reserve(hex.size());
    // An odd leading character has no pair; it stays in front, as the most significant digit.
    std::string::size_type i = hex.size();
    while (i >= 2) {
        i -= 2;
        out.append(hex, i, 2);
    }
    if (i == 1) out.insert(out.begin(), hex[0]);
    return out;
}

std::uint64_t file_reader::hexStrToInt(const std::string& hex, bool asWritten) {
    const std::string digits = asWritten ? hex : reverseBytes(hex);
    // More than 16 significant digits cannot fit; leading zeros are harmless.
    if (digits.empty()) throwInvalidHex(hex);
    std::uint64_t value = 0;
    for (char c : digits) {
        const int d = hexDigit(c);
        if (d < 0 || (value >> 60) != 0) throwInvalidHex(hex);
        value = (value << 4) | static_cast<std::uint64_t>(d);
    }
    return value;
}

std::uint64_t file_reader::getField(const std::string& line, unsigned long pos, unsigned long width,
                                    bool asWritten) {
    if (pos > line.size() || line.size() - pos < width)
        throw pgmfile_exception(translate("End of line encountered extracting hex data"));
    if (asWritten) {
        // The common case, without building a substring.
        std::uint64_t value = 0;
        for (unsigned long i = 0; i < width; ++i) {
            const int d = hexDigit(line[pos + i]);
            if (d < 0) throwInvalidHex(line.substr(pos, width));
            value = (value << 4) | static_cast<std::uint64_t>(d);
        }
        return value;
    }
    return hexStrToInt(line.substr(pos, width), false);
}

std::uint8_t file_reader::getUint8(const std::string& line, unsigned long pos) {
    return static_cast<std::uint8_t>(getField(line, pos, 2, true));
}

std::uint16_t file_reader::getUint16(const std::string& line, unsigned long pos, bool asWritten) {
    return static_cast<std::uint16_t>(getField(line, pos, 4, asWritten));
}

std::uint32_t file_reader::getUint24(const std::string& line, unsigned long pos, bool asWritten) {
    return static_cast<std::uint32_t>(getField(line, pos, 6, asWritten));
}

std::uint32_t file_reader::getUint32(const std::string& line, unsigned long pos, bool asWritten) {
    return static_cast<std::uint32_t>(getField(line, pos, 8, asWritten));
}

std::uint64_t file_reader::getUint64(const std::string& line, unsigned long pos, bool asWritten) {
    return getField(line, pos, 16, asWritten);
}

void file_reader::getData(const std::string& line, unsigned long pos, std::vector<unsigned char>& out,
                          unsigned long chars) {
    if (chars % 2 != 0) throw pgmfile_exception(translate("Requires an even number of characters"));
    if (pos > line.size() || line.size() - pos < chars)
        throw pgmfile_exception(translate("End of line encountered extracting programming file data"));
    const auto oldSize = out.size();
    out.resize(oldSize + chars / 2);
    unsigned char* dst = out.data() + oldSize;
    const char* src = line.data() + pos;
    for (unsigned long i = 0; i < chars; i += 2) {
        const int hi = hexDigit(src[i]);
        const int lo = hexDigit(src[i + 1]);
        if (hi < 0 || lo < 0) {
            out.resize(oldSize);
            throwInvalidHex(line.substr(pos + i, 2));
        }
        *dst++ = static_cast<unsigned char>((hi << 4) | lo);
    }
}

void file_reader::checkLineSize(unsigned long expected, unsigned long real) {
    if (expected != real)
        throw pgmfile_exception(pgmText("Invalid Byte count: expected Byte count '0x{1,locale=C,num=hex}'; "
                                        "real Byte count '0x{2,locale=C,num=hex}'",
                                        expected, real));
}

}  // namespace morvane::pgmfile
