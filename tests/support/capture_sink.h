#pragma once

#include "Logger/logmgr.h"

#include <mutex>
#include <string>
#include <vector>

namespace pavix_test {

// A sink that records every line it is given, for assertions.
class capture_sink : public morvane::logger::logsink {
public:
    void putString(const morvane::logger::logmsg& msg, const std::string& line) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back(line);
        m_types.push_back(msg.getType());
    }
    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    bool contains(const std::string& needle) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& l : m_lines)
            if (l.find(needle) != std::string::npos) return true;
        return false;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::vector<morvane::logger::logmsg::msgtype> m_types;
};

}  // namespace pavix_test
