#pragma once

#include "Pavix/Pavix.h"
#include "Logger/logmgr.h"

namespace morvane::pavix {

// Forwards finished log lines to the client's log callback.
class pavix_logsink : public logger::logsink {
public:
    pavix_logsink(PavixLogCallback fn, void* userData) : m_fn(fn), m_user_data(userData) {}
    void putString(const logger::logmsg& msg, const std::string& line) override {
        if (m_fn) m_fn(line.c_str(), static_cast<PavixLogLevel>(msg.getType()), m_user_data);
    }

private:
    PavixLogCallback m_fn;
    void* m_user_data;
};

}  // namespace morvane::pavix
