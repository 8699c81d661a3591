#pragma once

#include "Logger/logmgr.h"

#include <boost/locale/format.hpp>

#include <atomic>
#include <chrono>
#include <string>

namespace morvane::logger {

// Indentation of entry/exit lines, in spaces, shared by every thread of the process.
extern std::atomic<int> ident_lvl;

// Scope object: writes "> name" when created and "< name (N ms)" when destroyed, also when
// the scope is left by an exception.
class func_logger_base {
public:
    func_logger_base(logmgr& log, const std::string& module, logmsg::msgtype type, int level,
                     const char* name);
    func_logger_base(logmgr& log, const std::string& module, logmsg::msgtype type, int level,
                     const std::string& name);
    ~func_logger_base();
    func_logger_base(func_logger_base&& other) noexcept;
    func_logger_base(const func_logger_base&) = delete;
    func_logger_base& operator=(const func_logger_base&) = delete;
    func_logger_base& operator=(func_logger_base&&) = delete;

private:
    void logEnter();
    void logExit();

    logmgr& m_log;
    std::string m_module;
    logmsg::msgtype m_type;
    int m_level;
    std::string m_name;
    std::chrono::system_clock::time_point m_start{};
    std::chrono::system_clock::time_point m_end{};
    bool m_active = true;  // false once moved from: only one object writes the exit line
};

// Bound to a log manager and a module name; components keep one and open scopes from it.
// Keeps its own copy of the module name.
class tracer {
public:
    tracer(logmgr& log, const std::string& module);
    tracer(logmgr& log, const char* module);

    func_logger_base enterexit(const char* name);
    func_logger_base enterexit(std::string& name);
    func_logger_base enterexit(boost::locale::basic_format<char>& f);
    func_logger_base trace(const char* name);
    func_logger_base trace(std::string& name);
    func_logger_base trace(boost::locale::basic_format<char>& f);

    // One finished Debug message; level is 1, 2 or 3.
    void dmsg(int level, const char* text);
    void dmsg(int level, std::string& text);
    void dmsg(int level, boost::locale::basic_format<char>& f);

    logmgr& log() { return m_log; }
    const std::string& module() const { return m_module; }

private:
    logmgr& m_log;
    std::string m_module;
};

}  // namespace morvane::logger
