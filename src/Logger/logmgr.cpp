#include "Logger/logmgr.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <stdexcept>
#include <type_traits>

namespace morvane::logger {

namespace {

const char* typeWord(logmsg::msgtype type) {
    switch (type) {
    case logmsg::msgtype::None: return "None";
    case logmsg::msgtype::Debug: return "Debug";
    case logmsg::msgtype::Info: return "Info";
    case logmsg::msgtype::Plain: return "";
    case logmsg::msgtype::Trace: return "Trace";
    case logmsg::msgtype::Warning: return "Warning";
    case logmsg::msgtype::Error: return "Error";
    }
    return "";
}

void checkType(logmsg::msgtype type) {
    const int t = static_cast<int>(type);
    if (t < 1 || t > 6) throw std::domain_error("Invalid message type to setLevel method");
}

template <typename T>
void appendNumber(std::string& out, T value, bool hex) {
    char buf[32];
    std::to_chars_result r;
    if (hex) {
        // Hexadecimal shows the two's-complement bits, as a stream in hex mode does.
        r = std::to_chars(buf, buf + sizeof buf, static_cast<std::make_unsigned_t<T>>(value), 16);
    } else {
        r = std::to_chars(buf, buf + sizeof buf, value);
    }
    out.append(buf, r.ptr);
}

}  // namespace

logmsg::logmsg(const char* module, msgtype type, int level)
    : m_module(module ? module : ""), m_type(type), m_level(level) {}

logmsg::logmsg(const std::string& module, msgtype type, int level)
    : m_module(module), m_type(type), m_level(level) {}

logmgr::~logmgr() = default;

logmgr::thread_specific_data& logmgr::recordOf(std::thread::id id) {
    return m_data[id];
}

logmgr::thread_specific_data* logmgr::currentRecord() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto it = m_data.find(std::this_thread::get_id());
    return it == m_data.end() ? nullptr : &it->second;
}

logmgr& logmgr::operator<<(const logmsg& msg) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    thread_specific_data& data = recordOf(std::this_thread::get_id());
    // A chain cut short by an exception leaves its message in progress; the new header
    // replaces it rather than taking the whole process down.
    data.m_msg = msg;
    std::string& text = data.m_text;
    text = typeWord(msg.getType());
    if (!msg.getContext().empty()) {
        text += ": ";
        text += msg.getContext();
    }
    if (msg.getLine() > 0) {
        text += " line: ";
        appendNumber(text, msg.getLine(), data.m_hex);
    }
    if (msg.getColumn() > 0) {
        text += " col: ";
        appendNumber(text, msg.getColumn(), data.m_hex);
    }
    if (msg.getType() != msgtype::Plain) text += ": ";
    return *this;
}

logmgr& logmgr::operator<<(const char* text) {
    if (thread_specific_data* data = currentRecord()) {
        if (data->m_msg.getType() != msgtype::None && text) data->m_text += text;
    }
    return *this;
}

logmgr& logmgr::operator<<(const std::string& text) {
    if (thread_specific_data* data = currentRecord()) {
        if (data->m_msg.getType() != msgtype::None) data->m_text += text;
    }
    return *this;
}

logmgr& logmgr::operator<<(char c) {
    if (thread_specific_data* data = currentRecord()) {
        if (data->m_msg.getType() != msgtype::None) data->m_text += c;
    }
    return *this;
}

template <typename T>
logmgr& logmgr::appendInteger(T value) {
    if (thread_specific_data* data = currentRecord()) {
        if (data->m_msg.getType() != msgtype::None) appendNumber(data->m_text, value, data->m_hex);
    }
    return *this;
}

logmgr& logmgr::operator<<(int value) { return appendInteger(value); }
logmgr& logmgr::operator<<(unsigned int value) { return appendInteger(value); }
logmgr& logmgr::operator<<(long value) { return appendInteger(value); }
logmgr& logmgr::operator<<(unsigned long value) { return appendInteger(value); }
logmgr& logmgr::operator<<(long long value) { return appendInteger(value); }
logmgr& logmgr::operator<<(unsigned long long value) { return appendInteger(value); }

logmgr& logmgr::operator<<(double value) {
    if (thread_specific_data* data = currentRecord()) {
        if (data->m_msg.getType() != msgtype::None) {
            char buf[64];
            // "%g" with precision 6 is the default format of a standard stream.
            int n = std::snprintf(buf, sizeof buf, "%g", value);
            if (n > 0) data->m_text.append(buf, std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1));
        }
    }
    return *this;
}

logmgr& logmgr::operator<<(float value) { return *this << static_cast<double>(value); }

logmgr& logmgr::operator<<(logger_tokens token) {
    switch (token) {
    case end: finishMessage(true); break;
    case flush: finishMessage(false); break;
    case hex:
    case dec:
        if (thread_specific_data* data = currentRecord()) data->m_hex = (token == hex);
        break;
    }
    return *this;
}

void logmgr::finishMessage(bool lineEnd) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto it = m_data.find(std::this_thread::get_id());
    if (it == m_data.end() || it->second.m_msg.getType() == msgtype::None) return;
    thread_specific_data& data = it->second;

    // Take the message out of the record first: a sink that logs again on this thread then
    // starts from a clean record instead of clobbering the line being delivered.
    logmsg msg = data.m_msg;
    std::string text = std::move(data.m_text);
    data.m_msg = logmsg("", msgtype::None, 0);
    data.m_text.clear();

    auto entry = m_sinks.find(msg.getType());
    if (entry == m_sinks.end() || !entry->second.sink) return;
    if (!levelVisible(msg) || !scopeVisible(msg)) return;
    if (lineEnd) text += "\r\n";
    // A copy keeps the sink alive even if it removes itself from the table while running.
    std::shared_ptr<logsink> sink = entry->second.sink;
    sink->putString(msg, text);
}

bool logmgr::levelVisible(const logmsg& msg) const {
    auto it = m_sinks.find(msg.getType());
    if (it == m_sinks.end()) return false;
    const int threshold = it->second.threshold;
    if (msg.getType() == msgtype::Debug) {
        const int level = msg.getLevel();
        if (level <= 0 || level > 32) return false;
        return (static_cast<unsigned int>(threshold) >> (level - 1)) & 1u;
    }
    return msg.getLevel() <= threshold;
}

bool logmgr::scopeVisible(const logmsg& msg) const {
    auto it = m_sinks.find(msg.getType());
    if (it == m_sinks.end()) return false;
    const auto& inc = it->second.includedModules;
    const auto& exc = it->second.excludedModules;
    if (!inc.empty()) return std::find(inc.begin(), inc.end(), msg.getModule()) != inc.end();
    return std::find(exc.begin(), exc.end(), msg.getModule()) == exc.end();
}

bool logmgr::isLevelVisible() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto it = m_data.find(std::this_thread::get_id());
    return it != m_data.end() && levelVisible(it->second.m_msg);
}

bool logmgr::isScopeVisible() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto it = m_data.find(std::this_thread::get_id());
    return it != m_data.end() && scopeVisible(it->second.m_msg);
}

logmgr::logsinkmsgtype& logmgr::entryFor(msgtype type) {
    return m_sinks[type];
}

void logmgr::setSink(msgtype type, std::shared_ptr<logsink> sink) {
    checkType(type);
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    entryFor(type).sink = std::move(sink);
}

void logmgr::removeSink(msgtype type) {
    checkType(type);
    std::shared_ptr<logsink> last;  // released after the lock, in case its destructor logs
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        auto it = m_sinks.find(type);
        if (it == m_sinks.end()) return;
        last = std::move(it->second.sink);
        m_sinks.erase(it);
    }
}

void logmgr::setLevel(msgtype type, int threshold) {
    checkType(type);
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto it = m_sinks.find(type);
    // A type without an entry gets an empty one; the threshold applies only to existing entries.
    if (it == m_sinks.end())
        m_sinks.emplace(type, logsinkmsgtype{});
    else
        it->second.threshold = threshold;
}

void logmgr::setIncludedModules(msgtype type, const std::list<std::string>& modules) {
    checkType(type);
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    entryFor(type).includedModules = modules;
}

void logmgr::setExcludedModules(msgtype type, const std::list<std::string>& modules) {
    checkType(type);
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    entryFor(type).excludedModules = modules;
}

}  // namespace morvane::logger
