#include "vxapp_gen/vxapp_gen.h"

#include <cctype>
#include <fstream>
#include <stdexcept>

namespace pavix_test::vxapp {

namespace {

void putHex(std::string& out, unsigned value, int digits) {
    static const char hex[] = "0123456789ABCDEF";
    for (int i = digits - 1; i >= 0; --i) out.push_back(hex[(value >> (4 * i)) & 0xF]);
}

}  // namespace

std::uint8_t checksum(std::uint8_t arrayId, std::uint16_t rowNumber, std::uint16_t length,
                      const std::vector<std::uint8_t>& data) {
    unsigned sum = arrayId + (rowNumber >> 8) + (rowNumber & 0xFF) + (length >> 8) + (length & 0xFF);
    for (auto b : data) sum += b;
    return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

std::string rowLine(const row& r, const line_options& opt) {
    const auto n = static_cast<std::uint16_t>(r.data.size());
    std::uint16_t declared = n;
    if (opt.f == fault::count_too_big) declared = static_cast<std::uint16_t>(n + 1);
    if (opt.f == fault::count_too_small) declared = static_cast<std::uint16_t>(n - 1);

    std::string s = opt.leading;
    s.reserve(s.size() + 13 + 2 * r.data.size() + 1 + opt.trailing.size());
    s.push_back(':');
    const auto arrayAt = s.size();
    putHex(s, r.arrayId, 2);
    const auto rowAt = s.size();
    putHex(s, r.rowNumber, 4);
    const auto lengthAt = s.size();
    putHex(s, declared, 4);
    const auto dataAt = s.size();
    for (auto b : r.data) putHex(s, b, 2);
    if (opt.f == fault::odd_data_chars) s.push_back('0');
    std::uint8_t sum = checksum(r.arrayId, r.rowNumber, declared, r.data);
    if (opt.f == fault::bad_checksum) ++sum;
    if (opt.f != fault::no_checksum) putHex(s, sum, 2);

    switch (opt.f) {
    case fault::sign_in_field: s.replace(rowAt, 4, "-001"); break;
    case fault::hex_prefix: s.replace(lengthAt, 2, "0x"); break;
    case fault::blank_in_field: s[arrayAt] = ' '; break;
    case fault::bad_digit:
        if (!r.data.empty()) s[dataAt] = 'G';
        break;
    default: break;
    }
    if (opt.lowerCase)
        for (auto i = opt.leading.size(); i < s.size(); ++i)
            s[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
    s += opt.trailing;
    return s;
}

std::vector<std::uint8_t> pattern(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> out(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    return out;
}

image& image::add(row r, const line_options& opt) {
    m_lines.push_back(rowLine(r, opt));
    if (opt.f == fault::none && opt.leading.empty()) m_good.push_back(std::move(r));
    return *this;
}

image& image::addLine(std::string text) {
    m_lines.push_back(std::move(text));
    return *this;
}

std::string image::text() const {
    std::size_t size = header.size() + eol.size();
    for (const auto& l : m_lines) size += l.size() + eol.size();
    std::string out;
    out.reserve(size);
    out += header;
    out += eol;
    for (const auto& l : m_lines) {
        out += l;
        out += eol;
    }
    return out;
}

void image::write(const std::string& path) const {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    const std::string t = text();
    f.write(t.data(), static_cast<std::streamsize>(t.size()));
    f.close();
    if (!f) throw std::runtime_error("cannot write " + path);
}

image tallvexImage(const tallvex_options& opt) {
    image img;
    std::uint32_t seed = opt.seed;
    auto addRows = [&](std::uint8_t fromArray, std::uint16_t fromRow, std::uint8_t toArray, std::uint16_t toRow,
                       std::size_t maxRows) {
        std::size_t added = 0;
        for (unsigned a = fromArray; a <= toArray && added < maxRows; ++a) {
            const unsigned first = a == fromArray ? fromRow : 0;
            const unsigned last = a == toArray ? toRow : 0xFF;
            for (unsigned r = first; r <= last && added < maxRows; ++r, ++added)
                img.add({static_cast<std::uint8_t>(a), static_cast<std::uint16_t>(r), pattern(FlashRowSize, seed++)});
        }
    };
    auto metadataRow = [&](std::uint16_t rowNumber) {
        std::vector<std::uint8_t> data(FlashRowSize, 0);
        const std::string sig = "Morvane-Tallvex";
        std::copy(sig.begin(), sig.end(), data.begin());
        data[15] = static_cast<std::uint8_t>(opt.generation);
        data[16] = opt.major;
        data[17] = opt.minor;
        data[18] = static_cast<std::uint8_t>(opt.build & 0xFF);
        data[19] = static_cast<std::uint8_t>(opt.build >> 8);
        img.add({3, rowNumber, data});
    };
    if (opt.app) addRows(0, 0x32, 2, 0x17, SIZE_MAX);
    if (opt.custom) {
        addRows(2, 0x18, 3, 0xFC, opt.customRows);
        metadataRow(0xFE);
    }
    if (opt.app) metadataRow(0xFF);
    if (opt.eeprom)
        for (std::uint16_t r = 1; r <= 4; ++r) img.add({0x40, r, pattern(EepromRowSize, seed++)});
    return img;
}

image syntheticImage(std::size_t bytes, std::size_t rowSize, std::uint32_t seed) {
    image img;
    const std::vector<std::uint8_t> base = pattern(rowSize, seed);
    std::size_t i = 0;
    for (std::size_t done = 0; done < bytes; done += rowSize, ++i) {
        row r{static_cast<std::uint8_t>(i >> 16), static_cast<std::uint16_t>(i & 0xFFFF), base};
        r.data[0] = static_cast<std::uint8_t>(i);  // rows differ, cheaply
        img.add(std::move(r));
    }
    return img;
}

}  // namespace pavix_test::vxapp
