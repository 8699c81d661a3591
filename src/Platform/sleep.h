#pragma once

#include <chrono>

namespace morvane::platform {

// Sleeps the whole duration: a sleep cut short by a signal resumes for the rest.
void sleepFor(std::chrono::nanoseconds duration);

}  // namespace morvane::platform
