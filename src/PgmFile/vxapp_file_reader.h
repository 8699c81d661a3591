#pragma once

#include "PgmFile/file_reader.h"

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace morvane::pgmfile {

// Reader of bootloadable application ("vxapp") files: one header line, then row lines
// ":AARRRRLLLL<data>CC". Row R of array A lands at address A * 2^32 + R * 2^16.
// Loading stops at the first bad line; rows before it stay in the image.
class vxapp_file_reader : public file_reader {
public:
    void loadFile(const boost::filesystem::path& path, std::shared_ptr<programming_file> file,
                  bool verifyChecksum) override;
    virtual ~vxapp_file_reader() = default;
    virtual void loadDataBuffer(const std::string& text, std::shared_ptr<programming_file> file,
                                bool verifyChecksum);
    virtual void loadFile(std::ifstream& stream, std::shared_ptr<programming_file> file, bool verifyChecksum);
    // `line` is a trimmed row line.
    virtual void processLine(const std::string& line, std::shared_ptr<programming_file> file,
                             bool verifyChecksum);
    virtual void processRecord(unsigned long address, std::vector<unsigned char>& data,
                               std::shared_ptr<programming_file> file);
    virtual void verifyChecksum(unsigned char arrayId, unsigned short rowNumber, unsigned short length,
                                std::vector<unsigned char>& data, unsigned char checksum);

private:
    void lineOfFile(std::string& line, unsigned long lineNo, const std::shared_ptr<programming_file>& file,
                    bool verifyChecksum);
};

}  // namespace morvane::pgmfile
