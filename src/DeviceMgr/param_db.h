#pragma once

#include <map>
#include <mutex>
#include <string>

namespace morvane::devices {

// The device manager's string parameter store, shared by the directory, every hardware
// manager and device creation. Rescans on the hot-plug thread read it while an upgrade on
// the client thread sets and clears "quick_start", so every access takes the store's lock.
// Lookups of absent keys never insert.
class param_db {
public:
    // The value, or "" when the key is absent. Returned by value: a reference would outlive
    // the lock.
    std::string get(const std::string& key) const;
    bool has(const std::string& key) const;
    void set(const std::string& key, const std::string& value);
    void erase(const std::string& key);

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_values;
};

// Sets a key for the life of a scope and erases it on every exit path.
class scoped_param {
public:
    scoped_param(param_db& db, const std::string& key, const std::string& value);
    ~scoped_param();
    scoped_param(const scoped_param&) = delete;
    scoped_param& operator=(const scoped_param&) = delete;

private:
    param_db& m_db;
    std::string m_key;
};

}  // namespace morvane::devices
