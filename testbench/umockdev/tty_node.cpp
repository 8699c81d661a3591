#include "umockdev/nodes.h"

#include <umockdev.h>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace pavix_bench {

tty_node::tty_node(UMockdevTestbed* tb, std::shared_ptr<virtual_probe> probe, std::string devnode)
    : m_probe(std::move(probe)), m_devnode(std::move(devnode)) {
    m_master = umockdev_testbed_get_dev_fd(tb, m_devnode.c_str());
    if (m_master < 0) throw std::runtime_error("no pty behind " + m_devnode);
    if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2 failed");
    m_listener = m_probe->onReady([this](channel ch) {
        if (!(ch == channel::serial())) return;
        std::lock_guard<std::mutex> lock(m_mutex);
        bytes out;
        while (m_master >= 0 && m_probe->tryTake(channel::serial(), out) == virtual_probe::result::data) {
            size_t done = 0;
            while (done < out.size()) {
                ssize_t n = write(m_master, out.data() + done, out.size() - done);
                if (n <= 0) break;
                done += size_t(n);
            }
        }
    });
    m_thread = std::thread([this] { pump(); });
}

tty_node::~tty_node() {
    unplug();
    if (m_wake[0] >= 0) close(m_wake[0]);
    if (m_wake[1] >= 0) close(m_wake[1]);
}

void tty_node::unplug() {
    if (m_listener) {
        m_probe->removeListener(m_listener);
        m_listener = 0;
    }
    if (m_thread.joinable()) {
        (void)!write(m_wake[1], "q", 1);
        m_thread.join();
    }
    // Hang the line up by closing the master. The testbed owns that fd number and closes it
    // again when it goes, so the number is left pointing at /dev/null rather than freed.
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_master >= 0) {
        int null = open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null >= 0) {
            dup2(null, m_master);
            close(null);
        }
    }
    m_master = -1;
}

void tty_node::pump() {
    for (;;) {
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (fds[0].revents & POLLIN) {
            uint8_t buf[512];
            ssize_t n = read(m_master, buf, sizeof buf);
            if (n > 0) m_probe->serialWrite(bytes(buf, buf + n));
            else if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) return;
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // No host has the port open; wait a little rather than spin on the hang-up.
            poll(&fds[1], 1, 20);
            if (fds[1].revents) return;
        }
    }
}

}  // namespace pavix_bench
