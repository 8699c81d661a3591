#pragma once

// A child program driven line by line through its standard input and output.
// Started with posix_spawn (fork + exec), so the child never runs this process's state.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace pavix_test {

class helper_process {
public:
    explicit helper_process(const std::vector<std::string>& args) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const int rc = ::posix_spawn(&m_pid, argv[0], &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        ::close(in[0]);
        ::close(out[1]);
        m_in = in[1];
        m_out = out[0];
        if (rc != 0) {
            m_pid = -1;
            throw std::runtime_error("posix_spawn " + args[0]);
        }
    }

    ~helper_process() {
        kill9();
        ::close(m_in);
        ::close(m_out);
    }

    helper_process(const helper_process&) = delete;
    helper_process& operator=(const helper_process&) = delete;

    void send(const std::string& line) {
        const std::string l = line + "\n";
        if (::write(m_in, l.data(), l.size()) != static_cast<ssize_t>(l.size()))
            throw std::runtime_error("helper gone");
    }

    // One answer line; "<timeout>" when none comes in time (a hang fails the test instead of
    // blocking the suite).
    std::string readLine(int timeoutMs = 60000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto nl = m_buf.find('\n');
            if (nl != std::string::npos) {
                std::string line = m_buf.substr(0, nl);
                m_buf.erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) return "<timeout>";
            pollfd p{m_out, POLLIN, 0};
            const int r = ::poll(&p, 1, static_cast<int>(left));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) continue;
            char chunk[256];
            const ssize_t n = ::read(m_out, chunk, sizeof chunk);
            if (n <= 0) return "<eof>";
            m_buf.append(chunk, static_cast<size_t>(n));
        }
    }

    std::string ask(const std::string& line, int timeoutMs = 60000) {
        send(line);
        return readLine(timeoutMs);
    }

    void kill9() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGKILL);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }

    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    std::string m_buf;
};

}  // namespace pavix_test
