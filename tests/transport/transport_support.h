#pragma once

// Shared by the transport tests: a log capture, a clock the tests step by hand, and the
// transports with that clock reachable.

#include "DeviceMgr/interfaces/transport_bulk.h"
#include "DeviceMgr/interfaces/transport_hid.h"
#include "Logger/logmgr.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace transport_test {

template <class T>
struct clocked : T {
    using T::T;
    using T::setClock;
};
using clocked_hid = clocked<morvane::devices::transport_hid>;
using clocked_bulk = clocked<morvane::devices::transport_bulk>;

// Every reading of this clock is one second later than the one before.
inline std::atomic<long long> g_seconds{0};
inline std::chrono::steady_clock::time_point secondPerReading() {
    return std::chrono::steady_clock::time_point(std::chrono::seconds(++g_seconds));
}

class capture_sink : public morvane::logger::logsink {
public:
    void putString(const morvane::logger::logmsg&, const std::string& line) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back(line);
    }
    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

}  // namespace transport_test
