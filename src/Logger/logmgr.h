#pragma once

#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace morvane::logger {

// Header of one log message; the first thing inserted into every message chain.
class logmsg {
public:
    enum class msgtype : int { None = 0, Debug = 1, Info = 2, Plain = 3, Trace = 4, Warning = 5, Error = 6 };

    logmsg(const char* module, msgtype type, int level);
    logmsg(const std::string& module, msgtype type, int level);
    virtual ~logmsg() = default;
    logmsg(const logmsg&) = default;
    logmsg& operator=(const logmsg&) = default;

    const std::string& getModule() const { return m_module; }
    msgtype getType() const { return m_type; }
    int getLevel() const { return m_level; }
    const std::string& getContext() const { return m_context; }
    int getLine() const { return m_line; }
    int getColumn() const { return m_column; }
    const std::string& getText2() const { return m_text2; }
    int getNumber() const { return m_number; }

    void setContext(const std::string& context) { m_context = context; }
    void setLine(int line) { m_line = line; }
    void setColumn(int column) { m_column = column; }
    void setText2(const std::string& text) { m_text2 = text; }
    void setNumber(int number) { m_number = number; }

private:
    std::string m_module;
    msgtype m_type;
    int m_level;
    std::string m_context;
    int m_line = -1;
    int m_column = -1;
    std::string m_text2;
    int m_number = 0;
};

// Receives finished lines. Called with the log manager's lock held, so one line at a time.
class logsink {
public:
    virtual ~logsink() = default;
    virtual void putString(const logmsg& msg, const std::string& line) = 0;
};

// Assembles messages per thread and hands each finished, visible line to the sink of its
// type. One instance per library object; every component holds it by reference.
//
// Thread contract: any thread may log at any time. A message is one chain on one thread:
// header, pieces, then `end` (or `flush`). The text of a message is built outside the lock
// on the thread's own record; finishing holds the recursive lock across the sink call, so a
// sink may log again on the same thread.
class logmgr {
public:
    using msgtype = logmsg::msgtype;

    enum logger_tokens { end = 0, hex = 1, dec = 2, flush = 3 };

    struct logsinkmsgtype {
        std::shared_ptr<logsink> sink;
        int threshold = 0;
        std::list<std::string> includedModules;
        std::list<std::string> excludedModules;
    };

    logmgr() = default;
    ~logmgr();
    logmgr(const logmgr&) = delete;
    logmgr& operator=(const logmgr&) = delete;

    logmgr& operator<<(const logmsg& msg);
    logmgr& operator<<(const char* text);
    logmgr& operator<<(const std::string& text);
    logmgr& operator<<(char c);
    logmgr& operator<<(int value);
    logmgr& operator<<(unsigned int value);
    logmgr& operator<<(long value);
    logmgr& operator<<(unsigned long value);
    logmgr& operator<<(long long value);
    logmgr& operator<<(unsigned long long value);
    logmgr& operator<<(double value);
    logmgr& operator<<(float value);
    logmgr& operator<<(logger_tokens token);

    // Types 1..6 only; anything else throws std::domain_error.
    void setSink(msgtype type, std::shared_ptr<logsink> sink);
    void removeSink(msgtype type);
    void setLevel(msgtype type, int threshold);
    void setIncludedModules(msgtype type, const std::list<std::string>& modules);
    void setExcludedModules(msgtype type, const std::list<std::string>& modules);

    // Visibility of the calling thread's message in progress.
    bool isLevelVisible();
    bool isScopeVisible();

private:
    struct thread_specific_data {
        logmsg m_msg{"", msgtype::None, 0};
        std::string m_text;
        bool m_hex = false;
    };

    thread_specific_data* currentRecord();
    thread_specific_data& recordOf(std::thread::id id);
    template <typename T>
    logmgr& appendInteger(T value);
    void finishMessage(bool lineEnd);
    bool levelVisible(const logmsg& msg) const;
    bool scopeVisible(const logmsg& msg) const;
    logsinkmsgtype& entryFor(msgtype type);

    std::recursive_mutex m_mutex;
    std::map<std::thread::id, thread_specific_data> m_data;
    std::map<msgtype, logsinkmsgtype> m_sinks;
};

}  // namespace morvane::logger
