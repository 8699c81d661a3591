#include "Platform/interprocess_manager.h"

#include <boost/interprocess/exceptions.hpp>

#include <fcntl.h>
#include <semaphore.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <stdexcept>

namespace morvane::util {

namespace {

[[noreturn]] void throwSystemError(int err) {
    throw boost::interprocess::interprocess_exception(boost::interprocess::error_info(err));
}

// The host-wide named semaphore, opened (created on first use) for one lock step.
// Destruction gives the token back and closes the semaphore on every path.
class host_semaphore {
public:
    explicit host_semaphore(const std::string& name) {
        const std::string semName = "/" + name;
        m_sem = ::sem_open(semName.c_str(), 0);
        if (m_sem != SEM_FAILED) return;
        const int firstError = errno;
        if (firstError != ENOENT) throwSystemError(firstError);

        m_sem = ::sem_open(semName.c_str(), O_CREAT | O_EXCL, 0666, 1);
        if (m_sem == SEM_FAILED) {
            // Another process created it between the two calls: use theirs.
            if (errno != EEXIST) throwSystemError(errno);
            m_sem = ::sem_open(semName.c_str(), 0);
            if (m_sem == SEM_FAILED) throwSystemError(errno);
            return;
        }
        // The umask narrowed the permissions given to sem_open; every user of the host needs it.
        const std::string file = "/dev/shm/sem." + name;
        if (::chmod(file.c_str(), 0666) != 0) {
            ::sem_close(m_sem);
            m_sem = SEM_FAILED;
            throwSystemError(firstError);
        }
    }

    ~host_semaphore() {
        if (m_sem == SEM_FAILED) return;
        if (m_taken) {
            ::sem_post(m_sem);
        } else if (m_timedOut) {
            // The token was not given back within the bound: its holder most likely died
            // inside its step. Put one token back so the host does not pay the wait forever.
            // Exclusion does not depend on the semaphore (flock() decides), so a holder that
            // was only slow costs at most a second token.
            int value = 1;
            if (::sem_getvalue(m_sem, &value) == 0 && value <= 0) ::sem_post(m_sem);
        }
        ::sem_close(m_sem);
    }

    host_semaphore(const host_semaphore&) = delete;
    host_semaphore& operator=(const host_semaphore&) = delete;

    // Waits at most `bound` for the token; then goes on without it.
    void wait(std::chrono::milliseconds bound) {
        timespec deadline{};
        ::clock_gettime(CLOCK_MONOTONIC, &deadline);
        const long long ms = bound.count() < 0 ? 0 : bound.count();
        deadline.tv_sec += static_cast<time_t>(ms / 1000);
        deadline.tv_nsec += static_cast<long>((ms % 1000) * 1000000);
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        for (;;) {
            if (::sem_clockwait(m_sem, CLOCK_MONOTONIC, &deadline) == 0) {
                m_taken = true;
                return;
            }
            if (errno == EINTR) continue;
            if (errno == ETIMEDOUT) {
                m_timedOut = true;
                return;
            }
            throwSystemError(errno);
        }
    }

private:
    sem_t* m_sem = SEM_FAILED;
    bool m_taken = false;
    bool m_timedOut = false;
};

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

// ---- interprocess_object_gen ----

interprocess_object_gen::interprocess_object_gen(const std::string& directory, const char* name)
    : m_path(directory + "/" + (name ? name : "") + ".lock") {}

interprocess_object_gen::~interprocess_object_gen() {
    if (m_owner)
        cleanup();
    else
        closeOwnDescriptor();
}

bool interprocess_object_gen::isAcquired() {
    if (m_owner) return false;
    // Each retry means another holder released or replaced the file meanwhile; a name that
    // never settles (a file system whose inodes do not compare) must not spin for ever.
    for (int attempt = 0;; ++attempt) {
        if (attempt == 1000) throw std::runtime_error("Failed to stat() lock file " + m_path);
        // O_NOFOLLOW: the directory is world-writable; never follow a planted link.
        const int fd = ::open(m_path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0) throw std::runtime_error("Failed to create lock file " + m_path);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return true;
        }
        m_fd = fd;
        if (::fstat(m_fd, &m_fdStat) != 0) {
            closeOwnDescriptor();
            throw std::runtime_error("Failed to fstat() lock file " + m_path);
        }
        if (::stat(m_path.c_str(), &m_pathStat) != 0) {
            const int err = errno;
            closeOwnDescriptor();
            // The holder released (unlinked) the file between our open and our flock: the
            // file we hold no longer has the name; take the name afresh.
            if (err == ENOENT) continue;
            throw std::runtime_error("Failed to stat() lock file " + m_path);
        }
        if (sameFile(m_fdStat, m_pathStat)) {
            m_owner = true;
            m_ownerPid = ::getpid();
            // Let other users of the host open the file too, whatever our umask was.
            if ((m_fdStat.st_mode & 0777) != 0666) (void)::fchmod(m_fd, 0666);
            return false;
        }
        // Replaced by a newer file after we opened ours: start again on the current one.
        closeOwnDescriptor();
    }
}

void interprocess_object_gen::closeOwnDescriptor() noexcept {
    if (m_fd < 0) return;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

void interprocess_object_gen::cleanup() noexcept {
    m_owner = false;
    if (m_ownerPid != ::getpid()) {
        // A forked child shares the parent's open file and with it the flock: unlocking or
        // unlinking here would take the lock away from the parent. Drop our descriptor only.
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    // Remove the name before unlocking: whoever opened the old file meanwhile finds it
    // nameless after its flock and starts again. Only remove the name while it still is our
    // file; a file put there by someone else is theirs.
    struct stat now {};
    if (::stat(m_path.c_str(), &now) == 0 && sameFile(now, m_fdStat)) ::unlink(m_path.c_str());
    closeOwnDescriptor();
}

std::unique_ptr<interprocess_object> interprocess_object_factory::create(const char* name,
                                                                         const std::string& directory) {
    return std::make_unique<interprocess_object_gen>(directory, name);
}

// ---- interprocess_manager ----

interprocess_manager& interprocess_manager::instance() {
    static interprocess_manager manager;
    return manager;
}

std::string interprocess_manager::lockName(const std::string& key) {
    std::string name = "pavix_interprocess_" + key;
    for (char& c : name)
        if (c == '\\' || c == '/') c = '_';
    return name;
}

bool interprocess_manager::lockDevice(std::string key) { return lockDevice(std::move(key), false); }

bool interprocess_manager::isLocked(std::string key) { return !lockDevice(std::move(key), true); }

bool interprocess_manager::lockDevice(std::string key, bool checkOnly) {
    std::lock_guard<std::mutex> guard(m_mutex);
    const std::string name = lockName(key);
    host_semaphore sem(m_host.semaphoreName);
    // Our own lock conflicts with a second descriptor of ours: report it taken, keep it.
    if (m_locks.count(name) != 0) return false;
    std::unique_ptr<interprocess_object> lock =
        interprocess_object_factory::create(name.c_str(), m_host.lockDirectory);
    sem.wait(m_host.semaphoreWait);
    if (lock->isAcquired()) return false;
    if (!checkOnly) lock->acquire();
    m_locks.emplace(name, std::move(lock));
    return true;
}

void interprocess_manager::releaseDeviceLock() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_locks.clear();
}

void interprocess_manager::releaseDeviceLock(const std::string& key) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_locks.erase(lockName(key));
}

bool interprocess_manager::holdsLock(const std::string& key) {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_locks.count(lockName(key)) != 0;
}

void interprocess_manager::setHostNames(const host_names& names) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_host = names;
}

interprocess_manager::host_names interprocess_manager::hostNames() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_host;
}

}  // namespace morvane::util
