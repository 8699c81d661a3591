#pragma once

#include "PgmFile/programming_file.h"

#include <boost/filesystem/path.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace morvane::pgmfile {

// Base of the line-oriented firmware file readers, with the hexadecimal field extraction
// they share. Every failure is a pgmfile_exception. Hex fields take hex digits only: no
// blanks, signs or "0x".
class file_reader {
public:
    virtual void loadFile(const boost::filesystem::path& path, std::shared_ptr<programming_file> file,
                          bool verifyChecksum) = 0;

    static std::string trim(const std::string& text);
    // A1B2C3 -> C3B2A1
    static std::string reverseBytes(const std::string& hex);
    // asWritten false: the least significant byte is written first.
    static std::uint64_t hexStrToInt(const std::string& hex, bool asWritten);

    static std::uint8_t getUint8(const std::string& line, unsigned long pos);
    static std::uint16_t getUint16(const std::string& line, unsigned long pos, bool asWritten);
    static std::uint32_t getUint24(const std::string& line, unsigned long pos, bool asWritten);
    static std::uint32_t getUint32(const std::string& line, unsigned long pos, bool asWritten);
    static std::uint64_t getUint64(const std::string& line, unsigned long pos, bool asWritten);
    // Appends chars / 2 bytes read from line[pos, pos + chars).
    static void getData(const std::string& line, unsigned long pos, std::vector<unsigned char>& out,
                        unsigned long chars);
    static void checkLineSize(unsigned long expected, unsigned long real);

protected:
    file_reader() = default;
    // Not virtual: readers are never deleted through this base, and protection enforces it.
    ~file_reader() = default;

private:
    static std::uint64_t getField(const std::string& line, unsigned long pos, unsigned long width, bool asWritten);
};

}  // namespace morvane::pgmfile
