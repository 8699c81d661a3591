// Prints what the library says the running executable is, or "ERR <message>".
#include "Platform/platform.h"

#include <iostream>

int main() {
    try {
        std::cout << morvane::platform::platform::getExeFile() << std::endl;
    } catch (const morvane::platform::platform_exception& e) {
        std::cout << "ERR " << e.what() << std::endl;
    }
    return 0;
}
