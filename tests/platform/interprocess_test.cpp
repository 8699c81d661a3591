#include "Platform/interprocess_manager.h"
#include "platform/helper_process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using morvane::util::interprocess_manager;
using pavix_test::helper_process;

namespace {

// Every test gets its own lock directory and its own named semaphore, so the host's real
// lock and other suites running at the same time are never touched.
struct LockFixture : ::testing::Test {
    interprocess_manager& ipm = interprocess_manager::instance();
    interprocess_manager::host_names saved;
    interprocess_manager::host_names names;
    fs::path dir;

    void SetUp() override {
        ::signal(SIGPIPE, SIG_IGN);
        char tmpl[] = "/tmp/pavix_lock_test_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        saved = ipm.hostNames();
        names.lockDirectory = dir.string();
        names.semaphoreName = "pavix-ipc-lock-test-" + std::to_string(::getpid());
        names.semaphoreWait = std::chrono::milliseconds(2000);
        ipm.setHostNames(names);
    }

    void TearDown() override {
        ipm.releaseDeviceLock();
        ipm.setHostNames(saved);
        ::sem_unlink(("/" + names.semaphoreName).c_str());
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    std::unique_ptr<helper_process> helper(const char* mode = nullptr) {
        std::vector<std::string> args{LOCK_HELPER, names.lockDirectory, names.semaphoreName,
                                      std::to_string(names.semaphoreWait.count())};
        if (mode) args.push_back(mode);
        return std::make_unique<helper_process>(args);
    }

    // The semaphore's count, or -1 when it cannot be read.
    int semaphoreValue() {
        sem_t* s = ::sem_open(("/" + names.semaphoreName).c_str(), 0);
        if (s == SEM_FAILED) return -1;
        int v = -1;
        ::sem_getvalue(s, &v);
        ::sem_close(s);
        return v;
    }

    fs::path lockFile(const std::string& key) {
        return dir / (interprocess_manager::lockName(key) + ".lock");
    }
};

TEST_F(LockFixture, KeySeparatorsBecomeUnderscoresInTheLockFileName) {
    const struct {
        const char* key;
        const char* name;
    } cases[] = {
        {"TL3-0001", "pavix_interprocess_TL3-0001"},
        {"usb/1-2.3", "pavix_interprocess_usb_1-2.3"},
        {"HID\\VID_04B4", "pavix_interprocess_HID_VID_04B4"},
        {"/a\\\\b/", "pavix_interprocess__a__b_"},
        {"../etc", "pavix_interprocess_.._etc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(interprocess_manager::lockName(c.key), c.name);
        ASSERT_TRUE(ipm.lockDevice(c.key));
        EXPECT_TRUE(fs::exists(dir / (std::string(c.name) + ".lock")));
        ipm.releaseDeviceLock(c.key);
        EXPECT_FALSE(fs::exists(dir / (std::string(c.name) + ".lock")));
    }
    // Nothing was created outside the lock directory.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 0);
}

TEST_F(LockFixture, CreatesTheSemaphoreOpenToEveryUser) {
    const mode_t old = ::umask(022);
    EXPECT_TRUE(ipm.lockDevice("k"));
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat(("/dev/shm/sem." + names.semaphoreName).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);
    EXPECT_EQ(semaphoreValue(), 1);
}

TEST_F(LockFixture, SecondProcessRefusedWhileHeldAndServedAfterRelease) {
    auto other = helper();
    ASSERT_TRUE(ipm.lockDevice("probe"));
    EXPECT_EQ(other->ask("lock probe"), "0");
    EXPECT_EQ(other->ask("islocked probe"), "1");
    ipm.releaseDeviceLock("probe");
    EXPECT_FALSE(fs::exists(lockFile("probe")));
    EXPECT_EQ(other->ask("lock probe"), "1");
    EXPECT_FALSE(ipm.lockDevice("probe"));
    EXPECT_TRUE(ipm.isLocked("probe"));
    EXPECT_FALSE(ipm.holdsLock("probe"));
    EXPECT_EQ(other->ask("release"), "ok");
    EXPECT_TRUE(ipm.lockDevice("probe"));
}

TEST_F(LockFixture, LockOfAKilledHolderIsTakenOver) {
    auto other = helper();
    ASSERT_EQ(other->ask("lock probe"), "1");
    EXPECT_FALSE(ipm.lockDevice("probe"));
    other->kill9();
    // The dead holder could not remove its file; only its flock went with it.
    EXPECT_TRUE(fs::exists(lockFile("probe")));
    EXPECT_TRUE(ipm.lockDevice("probe"));
}

TEST_F(LockFixture, HolderKilledInsideTheSemaphoreDoesNotLockTheHostOut) {
    names.semaphoreWait = std::chrono::milliseconds(300);
    ipm.setHostNames(names);
    auto other = helper();
    ASSERT_EQ(other->ask("semhold"), "held");
    // The semaphore is taken and never given back; the lock still answers.
    EXPECT_TRUE(ipm.lockDevice("a"));
    other->kill9();
    EXPECT_TRUE(ipm.lockDevice("b"));
    // The lost token was put back: the next callers do not wait for the bound any more.
    EXPECT_EQ(semaphoreValue(), 1);
    auto third = helper();
    EXPECT_EQ(third->ask("lock a"), "0");
    EXPECT_EQ(third->ask("lock c"), "1");
}

TEST_F(LockFixture, ProcessesRacingForOneKeyNeverBothGetIt) {
    auto a = helper();
    auto b = helper();
    for (int round = 0; round < 200; ++round) {
        a->send("lock k");
        b->send("lock k");
        const std::string ra = a->readLine();
        const std::string rb = b->readLine();
        ASSERT_TRUE((ra == "1" && rb == "0") || (ra == "0" && rb == "1"))
            << "round " << round << ": " << ra << " / " << rb;
        EXPECT_EQ((ra == "1" ? a : b)->ask("release k"), "ok");
    }
}

// Releases race with other processes' attempts here, so holders also meet files unlinked
// under them; every attempt must end in a clean yes or no.
TEST_F(LockFixture, HammeringProcessesNeverOverlapAndNeverFail) {
    constexpr int kProcesses = 4;
    const fs::path log = dir / "hold.log";
    std::vector<std::unique_ptr<helper_process>> helpers;
    for (int i = 0; i < kProcesses; ++i) helpers.push_back(helper());
    for (int i = 0; i < kProcesses; ++i)
        helpers[i]->send("hammer k 4000 " + log.string() + " P" + std::to_string(i));
    int successes = 0;
    for (auto& h : helpers) {
        const std::string r = h->readLine(150000);
        ASSERT_EQ(r.rfind("done ", 0), 0u) << r;
        successes += std::stoi(r.substr(5));
    }

    std::ifstream in(log);
    std::string line, holder;
    int holds = 0;
    while (std::getline(in, line)) {
        if (line[0] == '+') {
            ASSERT_TRUE(holder.empty()) << line << " while " << holder << " holds";
            holder = line.substr(1);
            ++holds;
        } else {
            ASSERT_EQ(line.substr(1), holder);
            holder.clear();
        }
    }
    EXPECT_EQ(holds, successes);
    EXPECT_GT(holds, 0);
}

TEST_F(LockFixture, FileUnlinkedByTheReleasingHolderIsTakenAfresh) {
    ASSERT_TRUE(ipm.lockDevice("k"));
    auto other = helper("pause-first-flock");
    other->send("lock k");
    // The other process has opened our lock file and not yet tried its flock().
    ASSERT_EQ(other->readLine(), "paused");
    ipm.releaseDeviceLock("k");  // unlinks, then unlocks
    other->send("go");
    // Its flock() now succeeds on a file without a name: it must start again, not fail.
    EXPECT_EQ(other->readLine(), "1");
    EXPECT_TRUE(fs::exists(lockFile("k")));
    EXPECT_FALSE(ipm.lockDevice("k"));
}

TEST_F(LockFixture, OwnKeyLockedAgainIsRefusedAndStaysHeld) {
    auto other = helper();
    ASSERT_TRUE(ipm.lockDevice("k"));
    EXPECT_FALSE(ipm.lockDevice("k"));
    EXPECT_TRUE(ipm.isLocked("k"));
    EXPECT_TRUE(ipm.holdsLock("k"));
    EXPECT_EQ(other->ask("lock k"), "0");
}

TEST_F(LockFixture, IsLockedOnAFreeKeyTakesItUntilRelease) {
    auto other = helper();
    EXPECT_FALSE(ipm.isLocked("k"));
    EXPECT_TRUE(ipm.holdsLock("k"));
    EXPECT_EQ(other->ask("lock k"), "0");
    ipm.releaseDeviceLock();
    EXPECT_EQ(other->ask("lock k"), "1");
}

TEST_F(LockFixture, KeyedReleaseFreesThatKeyAlone) {
    auto other = helper();
    ASSERT_TRUE(ipm.lockDevice("bridge"));
    ASSERT_TRUE(ipm.lockDevice("uart"));
    // A third key (a firmware-version read of another probe) must not drop the second.
    ASSERT_TRUE(ipm.lockDevice("other"));
    ipm.releaseDeviceLock("other");
    EXPECT_EQ(other->ask("lock other"), "1");
    EXPECT_EQ(other->ask("lock bridge"), "0");
    EXPECT_EQ(other->ask("lock uart"), "0");
    ipm.releaseDeviceLock("not-held");  // harmless
    EXPECT_TRUE(ipm.holdsLock("uart"));
    ipm.releaseDeviceLock();
    EXPECT_EQ(other->ask("lock bridge"), "1");
    EXPECT_EQ(other->ask("lock uart"), "1");
}

TEST_F(LockFixture, BadLockDirectoryThrowsAndGivesTheSemaphoreBack) {
    {
        std::ofstream(dir / "regular_file") << "x";
    }
    const fs::path bad[] = {dir / "missing" / "sub", dir / "regular_file" / "sub"};
    for (const auto& d : bad) {
        SCOPED_TRACE(d.string());
        names.lockDirectory = d.string();
        ipm.setHostNames(names);
        try {
            ipm.lockDevice("k");
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Failed to create lock file " + (d / "pavix_interprocess_k.lock").string());
        }
        EXPECT_THROW(ipm.isLocked("k"), std::runtime_error);
        EXPECT_FALSE(ipm.holdsLock("k"));
        // A token kept by the failed call would make every later call wait.
        EXPECT_EQ(semaphoreValue(), 1);
    }
    names.lockDirectory = dir.string();
    ipm.setHostNames(names);
    auto other = helper();
    EXPECT_TRUE(ipm.lockDevice("k"));
    EXPECT_EQ(other->ask("lock k"), "0");
}

TEST_F(LockFixture, PlantedSymlinkIsNotFollowed) {
    const fs::path target = dir / "target";
    fs::create_symlink(target, lockFile("k"));
    EXPECT_THROW(ipm.lockDevice("k"), std::runtime_error);
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(semaphoreValue(), 1);
}

TEST_F(LockFixture, ReleaseLeavesAFileThatIsNoLongerOursAlone) {
    ASSERT_TRUE(ipm.lockDevice("k"));
    // Someone removed our file and a new holder created its own under the name.
    fs::remove(lockFile("k"));
    auto other = helper();
    ASSERT_EQ(other->ask("lock k"), "1");
    ipm.releaseDeviceLock("k");
    EXPECT_TRUE(fs::exists(lockFile("k")));
    auto third = helper();
    EXPECT_EQ(third->ask("lock k"), "0");
}

TEST_F(LockFixture, ForkedChildReleasingDoesNotFreeTheParentsLock) {
    ASSERT_TRUE(ipm.lockDevice("k"));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child inherited the held lock object; letting it go must leave the parent's
        // lock in place.
        interprocess_manager::instance().releaseDeviceLock();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(fs::exists(lockFile("k")));
    auto other = helper();
    EXPECT_EQ(other->ask("lock k"), "0");
    ipm.releaseDeviceLock();
    EXPECT_EQ(other->ask("lock k"), "1");
}

TEST_F(LockFixture, ThreadsShareTheManagerSafely) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    std::atomic<int> sharedHolders{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string own = "own-" + std::to_string(t);
            for (int i = 0; i < kRounds; ++i) {
                if (!ipm.lockDevice(own) || !ipm.holdsLock(own)) ++failures;
                if (ipm.lockDevice("shared")) {
                    if (sharedHolders.fetch_add(1) != 0) ++failures;
                    std::this_thread::yield();
                    sharedHolders.fetch_sub(1);
                    ipm.releaseDeviceLock("shared");
                }
                ipm.releaseDeviceLock(own);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 0);
}

}  // namespace
