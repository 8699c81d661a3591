// Firmware updater. The command set arrives with its own work; until then the program only
// proves that it loads the library and can talk to it.
#include "Pavix/Pavix.h"

#include <cstdio>

int main() {
    Pavix* api = createPavix();
    unsigned int major = 0, minor = 0, patch = 0, build = 0;
    int rc = api->initialize(0, nullptr);
    if (rc == 0 && api->getVersion(major, minor, patch, build) == 0)
        std::printf("renovo - libpavix %u.%u.%u.%u\n", major, minor, patch, build);
    else
        std::printf("renovo - %s\n", api->getErrorDescription(rc));
    api->exit();
    return 0;
}
