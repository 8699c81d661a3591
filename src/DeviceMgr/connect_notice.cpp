#include "DeviceMgr/connect_notice.h"

namespace morvane::devices {

void connect_notice::add(const std::string& hardwareId) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ids.push_back(hardwareId);
    }
    m_cv.notify_all();
}

void connect_notice::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ids.clear();
}

std::vector<std::string> connect_notice::ids() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ids;
}

std::string connect_notice::last() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ids.empty() ? std::string() : m_ids.back();
}

std::string connect_notice::waitFor(const std::function<bool(const std::string&)>& match,
                                    std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    std::string found;
    auto test = [&] {
        for (const auto& id : m_ids)
            if (match(id)) {
                found = id;
                return true;
            }
        return false;
    };
    m_cv.wait_for(lock, timeout, test);
    return found;
}

}  // namespace morvane::devices
