// Firmware updater. Its command set arrives with its own work; until then the program
// starts the library, shows what it found and reports the library version. With --debug the
// library's own log lines are printed as well.
#include "Pavix/Pavix.h"

#include <cstdio>
#include <cstring>

namespace {

void printLine(const char* line, PavixLogLevel, void*) { std::fputs(line, stdout); }

void onConnect(PavixDevice* device, bool arrived, void*) {
    if (device && device->name) std::printf("%s %s\n", arrived ? "connected:" : "disconnected:", device->name);
}

}  // namespace

int main(int argc, char** argv) {
    const bool debug = argc > 1 && std::strcmp(argv[argc - 1], "--debug") == 0;
    std::printf("renovo - firmware updater for Tallvex probes\n");
    Pavix* api = createPavix();
    if (!api) return 1;
    if (debug) api->setLogCallback(printLine, nullptr, PavixLogDebug);
    api->setConnectCallback(onConnect, nullptr);
    const int rc = api->initialize(0, nullptr);
    unsigned int major = 0, minor = 0, patch = 0, build = 0;
    if (rc == PavixOk && api->getVersion(major, minor, patch, build) == PavixOk)
        std::printf("libpavix %u.%u.%u.%u\n", major, minor, patch, build);
    else
        std::printf("Error: %s\n", api->getErrorDescription(rc));
    api->exit();
    return 0;
}
