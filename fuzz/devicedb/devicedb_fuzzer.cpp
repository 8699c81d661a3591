// Loads arbitrary bytes as a device database against the shipped schema. Any outcome but a
// devmgr_exception or a loaded database is a finding.
#include "DeviceMgr/api/devmgr_exception.h"
#include "DeviceMgr/database/devicedb.h"
#include "Logger/logmgr.h"

#include <xercesc/util/PlatformUtils.hpp>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const std::string& inputPath() {
    static const std::string path = [] {
        char name[] = "/tmp/pavix-fuzz-devdb-XXXXXX";
        int fd = mkstemp(name);
        if (fd < 0) abort();
        close(fd);
        return std::string(name);
    }();
    return path;
}

struct remove_at_exit {
    ~remove_at_exit() { std::remove(inputPath().c_str()); }
} g_cleanup;

}  // namespace

// One extra reference keeps the Xerces platform up between inputs, so each run measures
// the reader, not the platform start.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    xercesc::XMLPlatformUtils::Initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(inputPath().c_str(), "wb");
    if (!f) abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    morvane::logger::logmgr log;
    try {
        morvane::devices::devicedb db(log, inputPath(), PAVIX_DEVDB_SCHEMA);
        for (const auto& d : db.getDevices())
            for (const auto& c : d->getConfigs()) {
                (void)db.getHIDConfig(c->getVID(), c->getPID(), 0xFFFF);
                (void)db.getBulkConfigEx(c->getVID(), c->getPID(), c->getInterface());
                (void)db.getSerialConfigWithPlatfId(c->getVID(), c->getPID(), c->getPlatformId());
            }
    } catch (const morvane::devicemgrapi::devmgr_exception&) {
    }
    return 0;
}
