#include "Logger/format.h"

#include <boost/locale/generator.hpp>

namespace morvane::logger {

const std::locale& messageLocale() {
    static const std::locale loc = [] {
        boost::locale::generator gen;
        gen.use_ansi_encoding(false);
        return gen("C.UTF-8");
    }();
    return loc;
}

std::string translate(const char* text) {
    return boost::locale::translate(text).str(messageLocale());
}

}  // namespace morvane::logger
