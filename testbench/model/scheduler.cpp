#include "model/scheduler.h"

namespace pavix_bench {

scheduler::~scheduler() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void scheduler::at(clock::time_point when, std::function<void()> job) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stop) return;
    m_jobs.emplace(when, std::move(job));
    if (!m_thread.joinable()) m_thread = std::thread([this] { run(); });
    m_cv.notify_all();
}

void scheduler::flush() {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto now = clock::now();
    m_cv.wait(lock, [&] { return m_stop || (!m_busy && (m_jobs.empty() || m_jobs.begin()->first > now)); });
}

void scheduler::run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        if (m_jobs.empty()) {
            m_cv.wait(lock);
            continue;
        }
        auto due = m_jobs.begin()->first;
        if (clock::now() < due) {
            m_cv.wait_until(lock, due);
            continue;
        }
        auto job = std::move(m_jobs.begin()->second);
        m_jobs.erase(m_jobs.begin());
        m_busy = true;
        lock.unlock();
        job();
        lock.lock();
        m_busy = false;
        m_cv.notify_all();
    }
}

}  // namespace pavix_bench
