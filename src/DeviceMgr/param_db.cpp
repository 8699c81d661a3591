#include "DeviceMgr/param_db.h"

namespace morvane::devices {

std::string param_db::get(const std::string& key) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_values.find(key);
    return it == m_values.end() ? std::string() : it->second;
}

bool param_db::has(const std::string& key) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_values.count(key) != 0;
}

void param_db::set(const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_values[key] = value;
}

void param_db::erase(const std::string& key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_values.erase(key);
}

scoped_param::scoped_param(param_db& db, const std::string& key, const std::string& value)
    : m_db(db), m_key(key) {
    m_db.set(m_key, value);
}

scoped_param::~scoped_param() { m_db.erase(m_key); }

}  // namespace morvane::devices
