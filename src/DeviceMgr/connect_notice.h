#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace morvane::devices {

// The hardware IDs connected since the last clear(). The connected handler adds to it on the
// scanning thread (with the scan mutex held); an orchestration waits for an ID that matches.
// Its mutex is held only for the copy or the test, never while a device is opened, so the
// handler can never deadlock against a waiter; keeping every ID (not only the last) means an
// arrival of two devices in one rescan never hides the awaited one.
class connect_notice {
public:
    void add(const std::string& hardwareId);
    void clear();
    std::vector<std::string> ids() const;
    std::string last() const;

    // Waits until some recorded ID satisfies `match` or the time-out passes; returns that ID,
    // or "" on time-out. The final test at the deadline sees every ID recorded by then.
    std::string waitFor(const std::function<bool(const std::string&)>& match,
                        std::chrono::milliseconds timeout);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::string> m_ids;
};

}  // namespace morvane::devices
