#pragma once

// Builds vxapp bootloadable images for tests, benchmarks, fuzz seeds and the virtual
// bootloader: rows with correct checksums by default, and single-row faults on request.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pavix_test::vxapp {

constexpr std::size_t FlashRowSize = 288;
constexpr std::size_t EepromRowSize = 16;

// Address of a row in the loaded image.
constexpr std::uint64_t rowAddress(std::uint8_t arrayId, std::uint16_t rowNumber) {
    return (std::uint64_t{arrayId} << 32) | (std::uint64_t{rowNumber} << 16);
}

struct row {
    std::uint8_t arrayId = 0;
    std::uint16_t rowNumber = 0;
    std::vector<std::uint8_t> data;

    std::uint64_t address() const { return rowAddress(arrayId, rowNumber); }
};

// Ways to spoil one row line.
enum class fault {
    none,
    bad_checksum,     // checksum + 1
    count_too_big,    // declared length one more than the data
    count_too_small,  // declared length one less than the data
    odd_data_chars,   // one extra data digit: the count still matches, the digits are odd
    no_checksum,      // the last two characters cut off
    sign_in_field,    // row number written as "-001"
    hex_prefix,       // length written as "0x.." in place of its first two digits
    blank_in_field,   // a blank in the array ID
    bad_digit,        // a 'G' in the first data byte
};

struct line_options {
    line_options(fault spoil = fault::none) : f(spoil) {}  // NOLINT: a fault alone reads well

    fault f;
    bool lowerCase = false;
    std::string leading;   // text in front of ':' (a row with any is skipped by the reader)
    std::string trailing;  // text after the checksum, before the line end
};

// The 8-bit two's complement of the sum of array ID, row number, length and data bytes.
std::uint8_t checksum(std::uint8_t arrayId, std::uint16_t rowNumber, std::uint16_t length,
                      const std::vector<std::uint8_t>& data);
inline std::uint8_t checksum(const row& r) {
    return checksum(r.arrayId, r.rowNumber, static_cast<std::uint16_t>(r.data.size()), r.data);
}

// One row line without its line end.
std::string rowLine(const row& r, const line_options& opt = {});

// Deterministic filler bytes.
std::vector<std::uint8_t> pattern(std::size_t n, std::uint32_t seed);

class image {
public:
    std::string header = "VXAPP 1E0A1069 00 01";
    std::string eol = "\n";

    image& add(row r, const line_options& opt = {});
    // A raw line (blank lines, comments, deliberately broken rows).
    image& addLine(std::string text);

    // Rows added with fault::none and no leading text: what a reader must load.
    const std::vector<row>& goodRows() const { return m_good; }
    std::size_t lineCount() const { return m_lines.size() + 1; }

    std::string text() const;
    // Writes text() to `path`; throws std::runtime_error on failure.
    void write(const std::string& path) const;

private:
    std::vector<std::string> m_lines;
    std::vector<row> m_good;
};

// A probe firmware upgrade image in the layout the upgrade code expects: application rows
// array 0 row 0x32 .. array 2 row 0x17, its metadata row (array 3 row 0xFF) starting with the
// signature "Morvane-Tallvex", generation digit, major, minor and build (LSB first);
// optionally a custom application (array 2 row 0x18 .. array 3 row 0xFC, metadata array 3
// row 0xFE) and EEPROM rows (array 0x40 rows 1..4, 16 bytes each).
struct tallvex_options {
    bool app = true;
    bool custom = false;
    bool eeprom = false;
    char generation = '3';
    std::uint8_t major = 1;
    std::uint8_t minor = 2;
    std::uint16_t build = 345;
    std::uint32_t seed = 1;
    std::size_t customRows = 4;  // rows of the custom application from array 2 row 0x18
};
image tallvexImage(const tallvex_options& opt = {});

// At least `bytes` data bytes in rows of `rowSize`, row numbers 0..0xFFFF in array 0, then 1...
image syntheticImage(std::size_t bytes, std::size_t rowSize = FlashRowSize, std::uint32_t seed = 7);

}  // namespace pavix_test::vxapp
