// Feeds arbitrary text to the vxapp reader. Any exception other than pgmfile_exception, any
// sanitizer report, or an image that breaks the section invariants is a finding.
#include "PgmFile/vxapp_file_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using morvane::pgmfile::pgmfile_exception;
using morvane::pgmfile::programming_file;
using morvane::pgmfile::vxapp_file_reader;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// Sections ascend, never touch, and every query agrees with the section list.
void checkImage(const programming_file& f) {
    const auto starts = f.getSections();
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const unsigned long start = starts[i];
        const unsigned long size = f.getSectionSize(start);
        check(size > 0 && size != ~0ul);
        check(f.findEntryByAddress(start) == static_cast<int>(i));
        check(f.findEntryByAddress(start + size - 1) == static_cast<int>(i));
        check(f.hasAddressRange(start, size));
        check(f.getData(start).size() == size);
        check(f.getData(start, size) == f.getData(start));
        check(f.getSectionsWithDataInRange(start, 1).back() == start);
        if (i + 1 < starts.size()) {
            check(start + size < starts[i + 1]);
            check(f.findEntryByAddress(start + size) == -1);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks checksum verification, so both paths get explored.
    const bool verify = (data[0] & 1) != 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    auto file = std::make_shared<programming_file>("fuzz.vxapp", "vxapp");
    try {
        vxapp_file_reader().loadDataBuffer(text, file, verify);
    } catch (const pgmfile_exception&) {
        // Rejected input; whatever was loaded before the bad line must still be sound.
    }
    checkImage(*file);
    return 0;
}
