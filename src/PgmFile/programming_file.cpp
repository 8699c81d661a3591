#include "PgmFile/programming_file.h"

#include "PgmFile/pgmfile_text.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace morvane::pgmfile {

using logger::translate;

const std::string programming_file::TypePropName = "type";
const std::string programming_file::FileNamePropName = "filename";
const std::string programming_file::CommentPropName = "comment";

namespace {

constexpr unsigned long AllOnes = std::numeric_limits<unsigned long>::max();

// Section ends never wrap: addData and shiftSectionAddresses keep start + size <= AllOnes.
unsigned long endOf(unsigned long start, const std::vector<unsigned char>& bytes) {
    return start + bytes.size();
}

// The first address past [address, address + length), saturated at AllOnes.
unsigned long rangeEnd(unsigned long address, unsigned long length) {
    return length > AllOnes - address ? AllOnes : address + length;
}

}  // namespace

programming_file::programming_file(const std::string& type) : m_properties{{TypePropName, type}} {}

programming_file::programming_file(const std::string& filename, const std::string& type)
    : m_properties{{FileNamePropName, filename}, {TypePropName, type}} {}

std::string programming_file::fileNameForMessage() const {
    auto it = m_properties.find(FileNamePropName);
    return it == m_properties.end() ? std::string("<UNKNOWN>") : it->second;
}

void programming_file::throwInvalidAddress(unsigned long address) const {
    throw pgmfile_exception(pgmText("Invalid address '0x{1,locale=C,num=hex}' for programming file '{2}'",
                                address, fileNameForMessage()));
}

programming_file::section_map::const_iterator programming_file::findSection(unsigned long address) const {
    auto it = m_sections.upper_bound(address);
    if (it == m_sections.begin()) return m_sections.end();
    --it;
    return address < endOf(it->first, it->second) ? it : m_sections.end();
}

void programming_file::addData(unsigned long address, const std::vector<unsigned char>& data) {
    if (data.empty())
        throw pgmfile_exception(pgmText("No data at address'0x{1,locale=C,num=hex}' in programming file '{2}'",
                                    address, fileNameForMessage()));
    const unsigned long len = data.size();
    // A section reaching past the top of the address space would wrap to low addresses.
    if (len > AllOnes - address) throwInvalidAddress(address);
    const unsigned long end = address + len;
    auto overlap = [] {
        throw pgmfile_exception(translate("Invalid programming file - data segment overlap existing segments"));
    };

    // Everything is checked before anything changes, so a throw leaves the image as it was.
    auto next = m_sections.upper_bound(address);  // first section starting after address
    auto prev = next == m_sections.begin() ? m_sections.end() : std::prev(next);
    if (prev != m_sections.end()) {
        const unsigned long prevEnd = endOf(prev->first, prev->second);
        if (end <= prevEnd) {  // wholly inside: overwrite in place
            std::copy(data.begin(), data.end(), prev->second.begin() + (address - prev->first));
            return;
        }
        if (address < prevEnd) overlap();
    }
    if (next != m_sections.end() && next->first < end) overlap();

    const bool joinPrev = prev != m_sections.end() && endOf(prev->first, prev->second) == address;
    const bool joinNext = next != m_sections.end() && next->first == end;
    if (joinPrev) {
        auto& bytes = prev->second;
        // Reserve first: the inserts below cannot throw once the room is there.
        bytes.reserve(bytes.size() + len + (joinNext ? next->second.size() : 0));
        bytes.insert(bytes.end(), data.begin(), data.end());
        if (joinNext) {
            bytes.insert(bytes.end(), next->second.begin(), next->second.end());
            m_sections.erase(next);
        }
    } else if (joinNext) {
        std::vector<unsigned char> bytes;
        bytes.reserve(len + next->second.size());
        bytes.insert(bytes.end(), data.begin(), data.end());
        bytes.insert(bytes.end(), next->second.begin(), next->second.end());
        m_sections.emplace_hint(next, address, std::move(bytes));
        m_sections.erase(next);
    } else {
        m_sections.emplace_hint(next, address, data);
    }
}

void programming_file::shiftSectionAddresses(unsigned long delta) {
    if (delta == 0 || m_sections.empty()) return;
    const auto& last = *m_sections.rbegin();
    if (delta > AllOnes - endOf(last.first, last.second)) throwInvalidAddress(last.first);
    // Re-key the nodes in place: no allocation, so nothing can fail half way.
    section_map shifted;
    while (!m_sections.empty()) {
        auto node = m_sections.extract(m_sections.begin());
        node.key() += delta;
        shifted.insert(shifted.end(), std::move(node));
    }
    m_sections.swap(shifted);
}

std::vector<unsigned long> programming_file::getSections() const {
    std::vector<unsigned long> starts;
    starts.reserve(m_sections.size());
    for (const auto& s : m_sections) starts.push_back(s.first);
    return starts;
}

unsigned long programming_file::getSectionSize(unsigned long start) const {
    auto it = m_sections.find(start);
    return it == m_sections.end() ? AllOnes : it->second.size();
}

bool programming_file::doesSectionExist(unsigned long start) const { return m_sections.count(start) != 0; }

bool programming_file::doesSectionExist(unsigned long start, unsigned long size) const {
    auto it = m_sections.find(start);
    return it != m_sections.end() && it->second.size() == size;
}

int programming_file::findEntryByAddress(unsigned long address) const {
    auto it = findSection(address);
    return it == m_sections.end() ? -1 : static_cast<int>(std::distance(m_sections.begin(), it));
}

bool programming_file::hasAddressRange(unsigned long address, unsigned long length) const {
    auto it = findSection(address);
    return it != m_sections.end() && length <= endOf(it->first, it->second) - address;
}

bool programming_file::hasAddressRange(unsigned long sectionAddress, unsigned long address,
                                       unsigned long length) const {
    auto it = findSection(sectionAddress);
    if (it == m_sections.end() || address < it->first) return false;
    const unsigned long end = endOf(it->first, it->second);
    return address <= end && length <= end - address;
}

std::list<unsigned long> programming_file::getSectionsWithStartInRange(unsigned long address,
                                                                       unsigned long length) const {
    std::list<unsigned long> starts;
    if (length == 0) return starts;
    const unsigned long last = rangeEnd(address, length - 1);  // inclusive, so it cannot wrap
    for (auto it = m_sections.lower_bound(address); it != m_sections.end() && it->first <= last; ++it)
        starts.push_back(it->first);
    return starts;
}

std::list<unsigned long> programming_file::getSectionsWithDataInRange(unsigned long address,
                                                                      unsigned long length) const {
    std::list<unsigned long> starts;
    if (length == 0) return starts;
    const unsigned long last = rangeEnd(address, length - 1);
    // Only the section just below `address` can reach it from below; sections never overlap.
    auto it = m_sections.upper_bound(address);
    if (it != m_sections.begin()) {
        auto below = std::prev(it);
        if (endOf(below->first, below->second) >= address) it = below;
    }
    for (; it != m_sections.end() && it->first <= last; ++it) starts.push_back(it->first);
    return starts;
}

bool programming_file::hasSectionsWithDataInRange(unsigned long address, unsigned long length) const {
    if (length > AllOnes - address) throw pgmfile_exception(translate("Invalid data in ZOR view file"));
    return !getSectionsWithDataInRange(address, length).empty();
}

unsigned char programming_file::operator[](unsigned long address) const {
    auto it = findSection(address);
    if (it == m_sections.end()) throwInvalidAddress(address);
    return it->second[address - it->first];
}

const std::vector<unsigned char>& programming_file::getData(unsigned long address) const {
    auto it = findSection(address);
    if (it == m_sections.end()) throwInvalidAddress(address);
    return it->second;
}

std::vector<unsigned char> programming_file::getData(unsigned long address, unsigned long length) const {
    auto it = findSection(address);
    if (it == m_sections.end() || length > endOf(it->first, it->second) - address) return {};
    auto from = it->second.begin() + (address - it->first);
    return std::vector<unsigned char>(from, from + length);
}

void programming_file::getSectionDataInRange(unsigned long start, unsigned long address, unsigned long length,
                                             unsigned long& outStart, std::vector<unsigned char>& out) const {
    auto it = m_sections.find(start);
    if (it == m_sections.end()) return;
    const unsigned long from = std::max(start, address);
    const unsigned long to = std::min(endOf(start, it->second), rangeEnd(address, length));
    outStart = from;
    if (from >= to) {
        out.clear();
        return;
    }
    out.assign(it->second.begin() + (from - start), it->second.begin() + (to - start));
}

const std::string& programming_file::getProperty(const std::string& name) const {
    auto it = m_properties.find(name);
    if (it == m_properties.end())
        throw std::domain_error(pgmText("Property '{1}' is not a valid property name", name));
    return it->second;
}

const boost::filesystem::path& programming_file::getFilename() const {
    m_filename = getProperty(FileNamePropName);
    return m_filename;
}

std::string programming_file::getFileTypeFromFilename(const std::string& name) {
    // Only the last path component: a dot in a directory name is no file type.
    const auto slash = name.find_last_of('/');
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
    return name.substr(dot + 1);
}

std::string programming_file::getFileTypeFromFilename(const char* name) {
    return getFileTypeFromFilename(std::string(name ? name : ""));
}

std::string programming_file::getFileTypeFromFilename(const boost::filesystem::path& name) {
    return getFileTypeFromFilename(name.string());
}

bool operator==(const programming_file& a, const programming_file& b) { return a.m_sections == b.m_sections; }

bool operator!=(const programming_file& a, const programming_file& b) { return !(a == b); }

bool operator==(const std::shared_ptr<programming_file>& a, const std::shared_ptr<programming_file>& b) {
    if (!a || !b) return !a && !b;
    return *a == *b;
}

bool operator!=(const std::shared_ptr<programming_file>& a, const std::shared_ptr<programming_file>& b) {
    return !(a == b);
}

}  // namespace morvane::pgmfile
