// Drives the host-wide device lock from a separate process.
// Usage: lock_helper <lock directory> <semaphore name> <semaphore wait ms> [pause-first-flock]
// With pause-first-flock, the first non-blocking exclusive flock() of the lock code stops after
// the lock file was opened: it writes "paused" and goes on when a line arrives on stdin.
// Commands on stdin, one answer line each on stdout:
//   lock K | islocked K    -> "1" / "0" / "E <message>"
//   release [K]            -> "ok"
//   semhold                -> takes the named semaphore and never gives it back, "held"
//   hammer K N FILE TAG    -> N attempts on K; each success appends "+TAG" and "-TAG" lines to
//                             FILE around the held section, then releases; "done <successes>"

#include "Platform/interprocess_manager.h"

#include <fcntl.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <exception>
#include <iostream>
#include <sstream>
#include <string>

using morvane::util::interprocess_manager;

namespace {

bool g_pauseFirstFlock = false;

}  // namespace

// Replaces libc's flock() for the lock code linked into this program, so a test can act
// between the opening of a lock file and its flock().
extern "C" int flock(int fd, int operation) {
    if (g_pauseFirstFlock && operation == (LOCK_EX | LOCK_NB)) {
        g_pauseFirstFlock = false;
        static const char paused[] = "paused\n";
        if (::write(1, paused, sizeof paused - 1) < 0) std::_Exit(3);
        char c = 0;
        while (::read(0, &c, 1) == 1 && c != '\n') {
        }
    }
    return static_cast<int>(::syscall(SYS_flock, fd, operation));
}

namespace {

void appendLine(int fd, const std::string& text) {
    const std::string l = text + "\n";
    if (::write(fd, l.data(), l.size()) != static_cast<ssize_t>(l.size())) std::_Exit(3);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) return 2;
    g_pauseFirstFlock = argc == 5 && std::string(argv[4]) == "pause-first-flock";
    interprocess_manager& ipm = interprocess_manager::instance();
    interprocess_manager::host_names names;
    names.lockDirectory = argv[1];
    names.semaphoreName = argv[2];
    names.semaphoreWait = std::chrono::milliseconds(std::stoi(argv[3]));
    ipm.setHostNames(names);

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string cmd, key;
        in >> cmd >> key;
        try {
            if (cmd == "lock") {
                std::cout << (ipm.lockDevice(key) ? "1" : "0") << std::endl;
            } else if (cmd == "islocked") {
                std::cout << (ipm.isLocked(key) ? "1" : "0") << std::endl;
            } else if (cmd == "release") {
                if (key.empty())
                    ipm.releaseDeviceLock();
                else
                    ipm.releaseDeviceLock(key);
                std::cout << "ok" << std::endl;
            } else if (cmd == "semhold") {
                sem_t* s = ::sem_open(("/" + names.semaphoreName).c_str(), O_CREAT, 0666, 1);
                if (s == SEM_FAILED || ::sem_wait(s) != 0) {
                    std::cout << "E sem" << std::endl;
                    continue;
                }
                std::cout << "held" << std::endl;
                for (;;) ::pause();
            } else if (cmd == "hammer") {
                int rounds = 0;
                std::string file, tag;
                in >> rounds >> file >> tag;
                const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
                if (fd < 0) {
                    std::cout << "E log file" << std::endl;
                    continue;
                }
                int successes = 0;
                for (int i = 0; i < rounds; ++i) {
                    if (!ipm.lockDevice(key)) {
                        sched_yield();
                        continue;
                    }
                    ++successes;
                    appendLine(fd, "+" + tag);
                    sched_yield();
                    appendLine(fd, "-" + tag);
                    ipm.releaseDeviceLock(key);
                }
                ::close(fd);
                std::cout << "done " << successes << std::endl;
            } else {
                std::cout << "E unknown command" << std::endl;
            }
        } catch (const std::exception& e) {
            std::cout << "E " << e.what() << std::endl;
        }
    }
    return 0;
}
