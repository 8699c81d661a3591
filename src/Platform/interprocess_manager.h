#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace morvane::util {

// One lock that holds across processes of the host.
class interprocess_object {
public:
    virtual ~interprocess_object() = default;
    // True when another holder has the lock. False when this object now holds it.
    virtual bool isAcquired() = 0;
    virtual void acquire() = 0;
};

// A lock file "<directory>/<name>.lock" taken with an exclusive flock(). The kernel drops the
// flock when the holder dies, so a file left behind by a dead process is taken again.
// Not thread-safe: one owner (the interprocess_manager, under its mutex) uses an object.
class interprocess_object_gen : public interprocess_object {
public:
    interprocess_object_gen(const std::string& directory, const char* name);
    ~interprocess_object_gen() override;
    interprocess_object_gen(const interprocess_object_gen&) = delete;
    interprocess_object_gen& operator=(const interprocess_object_gen&) = delete;

    // Throws std::runtime_error when the lock file cannot be opened or checked; the lock is
    // then not held and nothing of another holder is touched.
    bool isAcquired() override;
    // The lock is taken by isAcquired() already.
    void acquire() override {}

    const std::string& path() const { return m_path; }

private:
    void closeOwnDescriptor() noexcept;
    void cleanup() noexcept;

    bool m_owner = false;
    int m_fd = -1;
    pid_t m_ownerPid = -1;  // the process that took the lock
    struct stat m_fdStat {};
    struct stat m_pathStat {};
    std::string m_path;
};

class interprocess_object_factory {
public:
    static constexpr const char* defaultDirectory = "/tmp";
    static std::unique_ptr<interprocess_object> create(const char* name,
                                                       const std::string& directory = defaultDirectory);
};

// The host-wide lock on a probe, keyed by its hardware ID. One per process.
//
// Thread contract: every operation may be called from any thread; the held locks are guarded
// by one mutex. Across processes, a named semaphore serialises testing and taking a lock
// file; the flock() on the lock file alone decides who holds it, so the semaphore is only
// waited on for a bounded time (a holder killed inside it would otherwise block the host
// forever).
class interprocess_manager {
public:
    static interprocess_manager& instance();

    // True when this process now holds the lock for key; false when another holder has it
    // (also when this process holds it already). Semaphore failures throw
    // boost::interprocess::interprocess_exception, lock-file failures std::runtime_error.
    bool lockDevice(std::string key);

    // True when another holder has the lock for key (or this process holds it already).
    // A free lock is taken as a side effect and kept until it is released.
    bool isLocked(std::string key);

    // Releases every lock this process holds.
    void releaseDeviceLock();
    // Releases the lock for key alone, when this process holds it.
    void releaseDeviceLock(const std::string& key);

    // True when this process holds the lock for key.
    bool holdsLock(const std::string& key);

    // "pavix_interprocess_" + key with '\\' and '/' replaced by '_'.
    static std::string lockName(const std::string& key);

    // Where the lock lives on the host. Internal: only tests point it elsewhere.
    struct host_names {
        std::string lockDirectory = interprocess_object_factory::defaultDirectory;
        std::string semaphoreName = "pavix-ipc-lock";
        std::chrono::milliseconds semaphoreWait{2000};
    };
    void setHostNames(const host_names& names);
    host_names hostNames();

    interprocess_manager(const interprocess_manager&) = delete;
    interprocess_manager& operator=(const interprocess_manager&) = delete;

private:
    interprocess_manager() = default;
    ~interprocess_manager() = default;

    bool lockDevice(std::string key, bool checkOnly);

    std::mutex m_mutex;
    // Held locks by lock name. Guarded by m_mutex.
    std::map<std::string, std::unique_ptr<interprocess_object>> m_locks;
    host_names m_host;  // guarded by m_mutex
};

}  // namespace morvane::util
