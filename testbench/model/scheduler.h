#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace pavix_bench {

// Runs small jobs at a given time on one background thread (started on first use).
// The destructor drops jobs not yet due and joins the thread.
class scheduler {
public:
    using clock = std::chrono::steady_clock;
    scheduler() = default;
    scheduler(const scheduler&) = delete;
    scheduler& operator=(const scheduler&) = delete;
    ~scheduler();

    void at(clock::time_point when, std::function<void()> job);
    void soon(std::function<void()> job) { at(clock::now(), std::move(job)); }
    // Waits until every job due by now has run (not for later ones).
    void flush();

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::multimap<clock::time_point, std::function<void()>> m_jobs;
    bool m_stop = false;
    bool m_busy = false;
    std::thread m_thread;
};

}  // namespace pavix_bench
