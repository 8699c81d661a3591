#include "Platform/sleep.h"

#include <cerrno>
#include <ctime>

namespace morvane::platform {

void sleepFor(std::chrono::nanoseconds duration) {
    if (duration.count() <= 0) return;
    timespec req{static_cast<time_t>(duration.count() / 1000000000), static_cast<long>(duration.count() % 1000000000)};
    timespec rem{};
    while (nanosleep(&req, &rem) == -1 && errno == EINTR) req = rem;
}

}  // namespace morvane::platform
