#pragma once

#include "PgmFile/pgmfile_exception.h"

#include <boost/filesystem/path.hpp>

#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace morvane::pgmfile {

// In-memory image of a firmware file: sections of bytes at 64-bit addresses that never
// overlap or touch, plus a few named text properties. Knows nothing of any file format.
//
// Not thread-safe: one thread builds an image; after that, concurrent const use is fine
// except getFilename(), which refreshes a cache.
class programming_file {
public:
    static const std::string TypePropName;      // "type"
    static const std::string FileNamePropName;  // "filename"
    static const std::string CommentPropName;   // "comment"

    explicit programming_file(const std::string& type);
    programming_file(const std::string& filename, const std::string& type);
    virtual ~programming_file() = default;

    // Adds bytes at an address. Data that touches a section on either side joins it (and a
    // gap filled exactly joins both neighbours); data wholly inside one section overwrites
    // it in place; any other overlap throws. A throw leaves the image unchanged.
    // O(log n) in the number of sections plus the bytes copied.
    void addData(unsigned long address, const std::vector<unsigned char>& data);
    void shiftSectionAddresses(unsigned long delta);

    std::vector<unsigned long> getSections() const;
    // Size of the section starting exactly at `start`; all ones when there is none.
    unsigned long getSectionSize(unsigned long start) const;
    bool doesSectionExist(unsigned long start) const;
    bool doesSectionExist(unsigned long start, unsigned long size) const;
    // Index in getSections() order of the section holding `address`, or -1.
    int findEntryByAddress(unsigned long address) const;
    bool hasAddressRange(unsigned long address, unsigned long length) const;
    bool hasAddressRange(unsigned long sectionAddress, unsigned long address, unsigned long length) const;
    std::list<unsigned long> getSectionsWithStartInRange(unsigned long address, unsigned long length) const;
    // Sections that start before the range ends and end at or after its first address
    // (a section ending exactly where the range starts is included). An empty range has none.
    std::list<unsigned long> getSectionsWithDataInRange(unsigned long address, unsigned long length) const;
    bool hasSectionsWithDataInRange(unsigned long address, unsigned long length) const;

    unsigned char operator[](unsigned long address) const;
    // Bytes of the section holding `address`; throws when no section does.
    const std::vector<unsigned char>& getData(unsigned long address) const;
    // Copy of [address, address + length) when one section holds all of it; empty otherwise.
    std::vector<unsigned char> getData(unsigned long address, unsigned long length) const;
    // The part of the section starting at `start` that lies in [address, address + length);
    // `out` is empty when they do not meet. Nothing changes when no section starts at `start`.
    void getSectionDataInRange(unsigned long start, unsigned long address, unsigned long length,
                               unsigned long& outStart, std::vector<unsigned char>& out) const;

    const std::string& getProperty(const std::string& name) const;
    const boost::filesystem::path& getFilename() const;

    static std::string getFileTypeFromFilename(const std::string& name);
    static std::string getFileTypeFromFilename(const char* name);
    static std::string getFileTypeFromFilename(const boost::filesystem::path& name);

    friend bool operator==(const programming_file& a, const programming_file& b);

private:
    using section_map = std::map<unsigned long, std::vector<unsigned char>>;

    // The section whose range holds `address`, or end().
    section_map::const_iterator findSection(unsigned long address) const;
    std::string fileNameForMessage() const;
    [[noreturn]] void throwInvalidAddress(unsigned long address) const;

    section_map m_sections;  // keyed by start address
    std::map<std::string, std::string> m_properties;
    mutable boost::filesystem::path m_filename;
};

bool operator==(const programming_file& a, const programming_file& b);
bool operator!=(const programming_file& a, const programming_file& b);
// Compare the images pointed to; two empty pointers are equal, one empty pointer is not.
bool operator==(const std::shared_ptr<programming_file>& a, const std::shared_ptr<programming_file>& b);
bool operator!=(const std::shared_ptr<programming_file>& a, const std::shared_ptr<programming_file>& b);

}  // namespace morvane::pgmfile
