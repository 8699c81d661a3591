#include "Logger/tracer.h"

#include "Logger/format.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>

namespace morvane::logger {

std::atomic<int> ident_lvl{0};

func_logger_base::func_logger_base(logmgr& log, const std::string& module, logmsg::msgtype type,
                                   int level, const char* name)
    : m_log(log), m_module(module), m_type(type), m_level(level), m_name(name ? name : "") {
    logEnter();
    m_start = std::chrono::system_clock::now();
}

func_logger_base::func_logger_base(logmgr& log, const std::string& module, logmsg::msgtype type,
                                   int level, const std::string& name)
    : func_logger_base(log, module, type, level, name.c_str()) {}

func_logger_base::func_logger_base(func_logger_base&& other) noexcept
    : m_log(other.m_log), m_module(std::move(other.m_module)), m_type(other.m_type),
      m_level(other.m_level), m_name(std::move(other.m_name)), m_start(other.m_start),
      m_end(other.m_end), m_active(other.m_active) {
    other.m_active = false;
}

func_logger_base::~func_logger_base() {
    if (!m_active) return;
    m_end = std::chrono::system_clock::now();
    try {
        logExit();
    } catch (...) {
        // Nothing may leave a destructor that also runs during unwinding.
    }
}

void func_logger_base::logEnter() {
    m_log << logmsg(m_module, m_type, m_level);
    if (m_type == logmsg::msgtype::Trace) {
        m_log << "> " << m_name << logmgr::end;
        return;
    }
    m_log << std::string(static_cast<size_t>(std::max(0, ident_lvl.load())), ' ') << "> " << m_name
          << logmgr::end;
    ident_lvl.fetch_add(2);
}

void func_logger_base::logExit() {
    const long long elapsedMs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(m_end - m_start).count() / 1000000;
    m_log << logmsg(m_module, m_type, m_level);
    if (m_type != logmsg::msgtype::Trace) {
        int now = ident_lvl.fetch_sub(2) - 2;
        if (now < 0) {
            // Clamp without losing a concurrent increment made in between.
            int expected = now;
            while (expected < 0 && !ident_lvl.compare_exchange_weak(expected, 0)) {
            }
            now = 0;
        }
        m_log << std::string(static_cast<size_t>(now), ' ');
    }
    m_log << "< " << m_name << " (" << logmgr::dec << elapsedMs << " ms)" << logmgr::end;
}

tracer::tracer(logmgr& log, const std::string& module) : m_log(log), m_module(module) {}
tracer::tracer(logmgr& log, const char* module) : m_log(log), m_module(module ? module : "") {}

func_logger_base tracer::enterexit(const char* name) {
    return func_logger_base(m_log, m_module, logmsg::msgtype::Debug, 2, name);
}
func_logger_base tracer::enterexit(std::string& name) {
    return func_logger_base(m_log, m_module, logmsg::msgtype::Debug, 2, name);
}
func_logger_base tracer::enterexit(boost::locale::basic_format<char>& f) {
    return func_logger_base(m_log, m_module, logmsg::msgtype::Trace, 0, f.str(messageLocale()));
}
func_logger_base tracer::trace(const char* name) {
    return func_logger_base(m_log, m_module, logmsg::msgtype::Trace, 0, name);
}
func_logger_base tracer::trace(std::string& name) {
    return func_logger_base(m_log, m_module, logmsg::msgtype::Trace, 0, name);
}
func_logger_base tracer::trace(boost::locale::basic_format<char>& f) {
    return func_logger_base(m_log, m_module, logmsg::msgtype::Trace, 0, f.str(messageLocale()));
}

void tracer::dmsg(int level, const char* text) {
    if (!(level > 0 && level < 4)) {
        // A wrong level is a programming error inside the library. Say so also in builds
        // where assert() is compiled out.
        assert(level > 0 && level < 4);
        std::fputs("tracer::dmsg: Assertion `level > 0 && level < 4' failed.\n", stderr);
        std::abort();
    }
    m_log << logmsg(m_module, logmsg::msgtype::Debug, level) << (text ? text : "") << logmgr::end;
}
void tracer::dmsg(int level, std::string& text) { dmsg(level, text.c_str()); }
void tracer::dmsg(int level, boost::locale::basic_format<char>& f) {
    std::string text = f.str(messageLocale());
    dmsg(level, text.c_str());
}

}  // namespace morvane::logger
