#pragma once

#include "Logger/format.h"

#include <string>

namespace morvane::pgmfile {

// Looks a message up and fills its placeholders. A "locale=C" option in a placeholder makes
// Boost.Locale build a whole new locale for every call (about 10 ms); the message locale
// already writes plain hexadecimal the same way, so the option is dropped after the lookup.
template <typename... Args>
std::string pgmText(const char* pattern, const Args&... args) {
    std::string text = logger::translate(pattern);
    static const std::string option = ",locale=C";
    for (auto at = text.find(option); at != std::string::npos; at = text.find(option, at)) text.erase(at, option.size());
    return logger::fmt(text, args...);
}

}  // namespace morvane::pgmfile
