#include "umockdev/nodes.h"

#include <umockdev.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <linux/hidraw.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace pavix_bench {

node::node(UMockdevTestbed* tb, std::shared_ptr<virtual_probe> probe, std::string devnode)
    : m_tb(tb), m_probe(std::move(probe)), m_devnode(std::move(devnode)) {
    m_handler = umockdev_ioctl_base_new();
    g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(cbIoctl), this);
    g_signal_connect(m_handler, "handle-read", G_CALLBACK(cbRead), this);
    g_signal_connect(m_handler, "handle-write", G_CALLBACK(cbWrite), this);
    g_signal_connect(m_handler, "client-vanished", G_CALLBACK(cbVanished), this);
}

node::~node() {
    if (m_listener) m_probe->removeListener(m_listener);
    GError* err = nullptr;
    umockdev_testbed_detach_ioctl(m_tb, m_devnode.c_str(), &err);
    if (err) g_error_free(err);
    g_signal_handlers_disconnect_by_data(m_handler, this);
    g_object_unref(m_handler);
}

void node::attach() {
    GError* err = nullptr;
    if (!umockdev_testbed_attach_ioctl(m_tb, m_devnode.c_str(), m_handler, &err)) {
        std::string what = err ? err->message : "unknown error";
        if (err) g_error_free(err);
        throw std::runtime_error("cannot attach " + m_devnode + ": " + what);
    }
}

void node::listen() {
    m_listener = m_probe->onReady([this](channel ch) { answerReady(ch); });
}

int node::cbIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* c, void* self) {
    return static_cast<node*>(self)->onIoctl(c);
}
int node::cbRead(UMockdevIoctlBase*, UMockdevIoctlClient* c, void* self) {
    return static_cast<node*>(self)->onRead(c);
}
int node::cbWrite(UMockdevIoctlBase*, UMockdevIoctlClient* c, void* self) {
    return static_cast<node*>(self)->onWrite(c);
}
void node::cbVanished(UMockdevIoctlBase*, UMockdevIoctlClient* c, void* self) {
    static_cast<node*>(self)->onVanished(c);
}

hidraw_node::hidraw_node(UMockdevTestbed* tb, std::shared_ptr<virtual_probe> probe, uint8_t iface,
                         std::string devnode, const std::string& root)
    : node(tb, std::move(probe), std::move(devnode)), m_iface(iface) {
    if (openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0)
        throw std::runtime_error(std::string("openpty: ") + strerror(errno));
    termios t{};
    tcgetattr(m_slave, &t);
    cfmakeraw(&t);
    tcsetattr(m_slave, TCSANOW, &t);
    fcntl(m_slave, F_SETFL, fcntl(m_slave, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    const char* name = ttyname(m_slave);
    if (!name || strncmp(name, "/dev/pts/", 9) != 0) throw std::runtime_error("pty without a /dev/pts name");
    m_pts = atoi(name + 9);
    m_link = root + m_devnode;
    unlink(m_link.c_str());
    if (symlink(name, m_link.c_str()) != 0)
        throw std::runtime_error("cannot link " + m_link + ": " + strerror(errno));
    listen();
}

hidraw_node::~hidraw_node() {
    if (m_listener) {
        m_probe->removeListener(m_listener);
        m_listener = 0;
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_master >= 0) close(m_master);
    if (m_slave >= 0) close(m_slave);
}

void hidraw_node::unplug() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_gone) return;
    m_gone = true;
    // Closing the master hangs the line up: a poll on the node reports POLLHUP, as hidraw
    // does for a vanished device.
    if (m_master >= 0) close(m_master);
    m_master = -1;
    unlink(m_link.c_str());
}

void hidraw_node::answerReady(channel ch) {
    if (!(ch == channel::hid(m_iface))) return;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_master >= 0) {
        const char bell = 'r';
        (void)!write(m_master, &bell, 1);
    }
}

bool hidraw_node::onIoctl(UMockdevIoctlClient* client) {
    const unsigned long req = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const interface_desc* i = m_probe->desc().findInterface(m_iface);
    const bytes rdesc = i ? i->hid_report_descriptor : bytes{};
    GError* err = nullptr;
    if (req == HIDIOCGRDESCSIZE) {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(int), &err);
        if (!d) return false;
        *reinterpret_cast<int*>(d->data) = int(rdesc.size());
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(d);
        return true;
    }
    if (req == HIDIOCGRDESC) {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(hidraw_report_descriptor), &err);
        if (!d) return false;
        auto* r = reinterpret_cast<hidraw_report_descriptor*>(d->data);
        const size_t n = std::min<size_t>(rdesc.size(), std::min<size_t>(r->size, HID_MAX_DESCRIPTOR_SIZE));
        if (n) std::memcpy(r->value, rdesc.data(), n);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(d);
        return true;
    }
    if (req == HIDIOCGRAWINFO) {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(hidraw_devinfo), &err);
        if (!d) return false;
        auto* r = reinterpret_cast<hidraw_devinfo*>(d->data);
        r->bustype = 3;  // BUS_USB
        r->vendor = int16_t(m_probe->desc().vid);
        r->product = int16_t(m_probe->desc().pid);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(d);
        return true;
    }
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return true;
}

bool hidraw_node::onWrite(UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const size_t len = size_t(arg->data_len);
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (m_gone || !m_probe->connected()) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return true;
        }
    }
    // Unnumbered reports arrive with a leading report ID 0, which the kernel strips.
    bytes report(arg->data, arg->data + len);
    if (!report.empty() && report[0] == 0) report.erase(report.begin());
    if (!m_probe->hidWrite(m_iface, report)) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
    }
    umockdev_ioctl_client_complete(client, long(len), 0);
    return true;
}

bool hidraw_node::onRead(UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_gone) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
    }
    bytes report;
    auto r = m_probe->tryTake(channel::hid(m_iface), report);
    if (r == virtual_probe::result::gone) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
    }
    if (r != virtual_probe::result::data) {
        // A stalled-away report still rang the bell once.
        if (r == virtual_probe::result::stall) {
            char b;
            (void)!read(m_slave, &b, 1);
        }
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
        return true;
    }
    char b;
    (void)!read(m_slave, &b, 1);
    const size_t n = std::min<size_t>(report.size(), size_t(arg->data_len));
    if (n) std::memcpy(arg->data, report.data(), n);
    umockdev_ioctl_client_complete(client, long(n), 0);
    return true;
}

}  // namespace pavix_bench
