#include "PgmFile/vxapp_file_reader.h"

#include "PgmFile/pgmfile_text.h"

#include <cctype>

namespace morvane::pgmfile {

using logger::translate;

namespace {

// ':' + array ID (2) + row number (4) + length (4) + checksum (2)
constexpr unsigned long RowOverhead = 13;
constexpr unsigned long DataOffset = 11;

void requireFile(const std::shared_ptr<programming_file>& file) {
    if (!file) throw pgmfile_exception(translate("No programming file to load into"));
}

}  // namespace

void vxapp_file_reader::loadFile(const boost::filesystem::path& path, std::shared_ptr<programming_file> file,
                                 bool verifyChecksum) {
    std::ifstream stream(path.string(), std::ios::in | std::ios::binary);
    if (!stream.is_open())
        throw pgmfile_exception(pgmText("Cannot open file '{1}' for reading", path.string()));
    try {
        loadFile(stream, std::move(file), verifyChecksum);
    } catch (const pgmfile_exception& e) {
        throw pgmfile_exception(path.string() + " - " + e.what());
    }
}

void vxapp_file_reader::lineOfFile(std::string& line, unsigned long lineNo,
                                   const std::shared_ptr<programming_file>& file, bool verifyChecksum) {
    if (lineNo == 1 || line.empty() || line[0] != ':') return;  // header, or not a row
    try {
        // Only trailing blanks can remain: the line starts with ':'.
        auto last = line.size();
        while (last > 0 && std::isspace(static_cast<unsigned char>(line[last - 1]))) --last;
        line.resize(last);
        processLine(line, file, verifyChecksum);
    } catch (const pgmfile_exception& e) {
        throw pgmfile_exception("line " + std::to_string(lineNo) + ": " + e.what());
    }
}

void vxapp_file_reader::loadDataBuffer(const std::string& text, std::shared_ptr<programming_file> file,
                                       bool verifyChecksum) {
    requireFile(file);
    std::string line;
    unsigned long lineNo = 1;
    std::string::size_type pos = 0;
    while (pos < text.size()) {
        auto nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        line.assign(text, pos, nl - pos);
        pos = nl + 1;
        lineOfFile(line, lineNo++, file, verifyChecksum);
    }
}

void vxapp_file_reader::loadFile(std::ifstream& stream, std::shared_ptr<programming_file> file,
                                 bool verifyChecksum) {
    requireFile(file);
    std::string line;
    unsigned long lineNo = 1;
    for (;;) {
        if (!std::getline(stream, line)) {
            if (stream.eof() && !stream.bad()) return;
            throw pgmfile_exception(translate("I/O error reading from input"));
        }
        lineOfFile(line, lineNo++, file, verifyChecksum);
    }
}

void vxapp_file_reader::processLine(const std::string& line, std::shared_ptr<programming_file> file,
                                    bool verifyChecksum) {
    const unsigned long size = line.size();
    const unsigned char arrayId = getUint8(line, 1);
    const unsigned short rowNumber = getUint16(line, 3, true);
    const unsigned short length = getUint16(line, 7, true);
    // Shorter than a row with no data: the checksum field is missing.
    if (size < RowOverhead) throw pgmfile_exception(translate("End of line encountered extracting hex data"));
    checkLineSize(length, (size - RowOverhead) / 2);
    std::vector<unsigned char> data;
    data.reserve(length);
    getData(line, DataOffset, data, size - RowOverhead);
    if (verifyChecksum) this->verifyChecksum(arrayId, rowNumber, length, data, getUint8(line, size - 2));
    processRecord((static_cast<unsigned long>(arrayId) << 32) | (static_cast<unsigned long>(rowNumber) << 16), data,
                  std::move(file));
}

void vxapp_file_reader::processRecord(unsigned long address, std::vector<unsigned char>& data,
                                      std::shared_ptr<programming_file> file) {
    requireFile(file);
    file->addData(address, data);
}

void vxapp_file_reader::verifyChecksum(unsigned char arrayId, unsigned short rowNumber, unsigned short length,
                                       std::vector<unsigned char>& data, unsigned char checksum) {
    unsigned sum = arrayId + (rowNumber >> 8) + (rowNumber & 0xFF) + (length >> 8) + (length & 0xFF);
    for (unsigned char b : data) sum += b;
    if (((sum + checksum) & 0xFF) != 0)
        throw pgmfile_exception(pgmText("Invalid checksum, expected '0x{1,num=hex}', got '0x{2,num=hex}'",
                                    (0x100 - (sum & 0xFF)) & 0xFF, static_cast<unsigned>(checksum)));
}

}  // namespace morvane::pgmfile
