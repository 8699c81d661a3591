#pragma once

#include <boost/locale/format.hpp>
#include <boost/locale/message.hpp>

#include <locale>
#include <string>

namespace morvane::logger {

// The locale every message text is formatted in. Built once; carries Boost.Locale's facets,
// which `format` needs for "{1,num=hex}" and friends.
const std::locale& messageLocale();

// Message-catalogue lookup. No catalogue ships with the library, so this is the English text.
std::string translate(const char* text);

// Fills the numbered placeholders of a text: fmt("a {1} b {2,num=hex}", x, y).
template <typename... Args>
std::string fmt(const std::string& pattern, const Args&... args) {
    boost::locale::format f(pattern);
    (void)std::initializer_list<int>{((void)(f % args), 0)...};
    return f.str(messageLocale());
}

}  // namespace morvane::logger
