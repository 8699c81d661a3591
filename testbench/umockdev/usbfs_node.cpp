#include "umockdev/nodes.h"

#include <umockdev.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <linux/usb/ch9.h>
#include <linux/usbdevice_fs.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace pavix_bench {

// One submitted URB; its memory stays resolved until it is reaped.
struct usbfs_node::urb {
    UMockdevIoctlClient* client = nullptr;
    UMockdevIoctlData* data = nullptr;    // the usbdevfs_urb
    UMockdevIoctlData* buffer = nullptr;  // its transfer buffer
    unsigned char type = 0;
    unsigned char endpoint = 0;
    int length = 0;
    unsigned long addr = 0;
    bool done = false;
    ~urb() {
        if (buffer) g_object_unref(buffer);
        if (data) g_object_unref(data);
    }
    usbdevfs_urb* view() const { return reinterpret_cast<usbdevfs_urb*>(data->data); }
    uint8_t* buf() const { return buffer ? buffer->data : nullptr; }
};

struct usbfs_node::client_state {
    std::deque<std::shared_ptr<urb>> pending;  // submitted, not complete
    std::deque<std::shared_ptr<urb>> reapable;
};

usbfs_node::usbfs_node(UMockdevTestbed* tb, std::shared_ptr<virtual_probe> probe, std::string devnode,
                       const std::string& root)
    : node(tb, std::move(probe), std::move(devnode)) {
    m_path = root + m_devnode;
    unlink(m_path.c_str());
    if (mkfifo(m_path.c_str(), 0666) != 0) throw std::runtime_error("mkfifo " + m_path + ": " + strerror(errno));
    m_fifo = open(m_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (m_fifo < 0) throw std::runtime_error("open " + m_path + ": " + strerror(errno));
    fcntl(m_fifo, F_SETPIPE_SZ, 4096);
    updateDoorbell();
    listen();
}

usbfs_node::~usbfs_node() {
    if (m_listener) {
        m_probe->removeListener(m_listener);
        m_listener = 0;
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_dead = true;
    m_clients.clear();
    if (m_fifo >= 0) close(m_fifo);
    m_fifo = -1;
}

// libusb waits for POLLOUT on a usbdevfs fd before it reaps: the FIFO is kept full (not
// writable) while nothing is reapable and emptied when something is.
void usbfs_node::updateDoorbell() {
    bool any = false;
    for (auto& [c, st] : m_clients) any = any || !st->reapable.empty();
    char chunk[512];
    if (any) {
        while (read(m_fifo, chunk, sizeof chunk) > 0) {
        }
    } else {
        std::memset(chunk, 'u', sizeof chunk);
        while (write(m_fifo, chunk, sizeof chunk) > 0) {
        }
        while (write(m_fifo, chunk, 1) > 0) {
        }
    }
}

void usbfs_node::unplug() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_gone) return;
    m_gone = true;
    for (auto& [c, st] : m_clients)
        while (!st->pending.empty()) {
            // A copy: finish() erases the queue entry a reference would point into.
            auto u = st->pending.front();
            finish(u, -ENODEV, 0);
        }
    updateDoorbell();
    unlink(m_path.c_str());
}

// `u` must not be a reference into one of the queues: it is moved between them.
void usbfs_node::finish(const std::shared_ptr<urb>& u, int status, int actual) {
    if (u->done) return;
    u->done = true;
    u->view()->status = status;
    u->view()->actual_length = actual;
    auto it = m_clients.find(u->client);
    if (it == m_clients.end()) return;
    auto& p = it->second->pending;
    for (auto k = p.begin(); k != p.end(); ++k)
        if (*k == u) {
            p.erase(k);
            break;
        }
    it->second->reapable.push_back(u);
}

void usbfs_node::completeControl(const std::shared_ptr<urb>& u, const control_result& r) {
    if (r.disconnect || !m_probe->connected()) return finish(u, -ENODEV, 0);
    if (r.stall) return finish(u, -EPIPE, 0);
    const auto* setup = reinterpret_cast<const usb_ctrlrequest*>(u->buf());
    if (setup->bRequestType & 0x80) {
        const size_t n = std::min<size_t>(r.data.size(), size_t(u->length - 8));
        if (n) std::memcpy(u->buf() + 8, r.data.data(), n);
        return finish(u, 0, int(n));
    }
    finish(u, 0, u->length - 8);
}

void usbfs_node::submit(UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* err = nullptr;
    auto u = std::make_shared<urb>();
    u->client = client;
    u->data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &err);
    if (!u->data) {
        if (err) g_error_free(err);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    u->type = u->view()->type;
    u->endpoint = u->view()->endpoint;
    u->length = u->view()->buffer_length;
    u->addr = u->data->client_addr;
    if (u->length > 0) {
        u->buffer = umockdev_ioctl_data_resolve(u->data, offsetof(usbdevfs_urb, buffer), size_t(u->length), &err);
        if (!u->buffer) {
            if (err) g_error_free(err);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
    }
    if (m_gone || !m_probe->connected()) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    if (u->type == USBDEVFS_URB_TYPE_CONTROL && u->length < 8) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    auto& st = m_clients[client];
    if (!st) st = std::make_shared<client_state>();
    st->pending.push_back(u);
    umockdev_ioctl_client_complete(client, 0, 0);

    if (u->type == USBDEVFS_URB_TYPE_CONTROL) {
        const auto* s = reinterpret_cast<const usb_ctrlrequest*>(u->buf());
        setup_packet sp{s->bRequestType, s->bRequest, s->wValue, s->wIndex, s->wLength};
        bytes out;
        if (!sp.in()) out.assign(u->buf() + 8, u->buf() + 8 + std::min<int>(s->wLength, u->length - 8));
        control_result r = m_probe->control(sp, out);
        if (r.no_answer) return;  // stays pending until libusb gives up and discards it
        if (r.delay.count() > 0) {
            // Answered later, from a timer: the URB stays pending (and discardable) until then.
            std::weak_ptr<urb> weak = u;
            m_timer.at(std::chrono::steady_clock::now() + r.delay, [this, weak, r] {
                std::lock_guard<std::recursive_mutex> lock(m_mutex);
                auto v = weak.lock();
                if (m_dead || !v || v->done) return;
                completeControl(v, r);
                updateDoorbell();
            });
            return;
        }
        completeControl(u, r);
    } else if (!(u->endpoint & 0x80)) {
        bytes out(u->buf(), u->buf() + u->length);
        switch (m_probe->bulkOut(u->endpoint, out)) {
        case virtual_probe::result::gone: finish(u, -ENODEV, 0); break;
        case virtual_probe::result::stall: finish(u, -EPIPE, 0); break;
        default: finish(u, 0, u->length); break;
        }
    }
    fillPendingIns();
    updateDoorbell();
}

void usbfs_node::fillPendingIns() {
    for (auto& [c, st] : m_clients) {
        auto pending = st->pending;
        for (auto& u : pending) {
            if (u->type == USBDEVFS_URB_TYPE_CONTROL || !(u->endpoint & 0x80) || u->done) continue;
            bytes got;
            auto r = m_probe->tryTake(channel::bulk(u->endpoint), got);
            if (r == virtual_probe::result::empty) continue;
            if (r == virtual_probe::result::gone) finish(u, -ENODEV, 0);
            else if (r == virtual_probe::result::stall) finish(u, -EPIPE, 0);
            else if (int(got.size()) > u->length) {
                std::memcpy(u->buf(), got.data(), size_t(u->length));
                finish(u, -EOVERFLOW, u->length);
            } else {
                if (!got.empty()) std::memcpy(u->buf(), got.data(), got.size());
                finish(u, 0, int(got.size()));
            }
        }
    }
}

void usbfs_node::answerReady(channel ch) {
    if (ch.what != channel::kind::bulk) return;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    fillPendingIns();
    updateDoorbell();
}

void usbfs_node::reap(UMockdevIoctlClient* client) {
    auto it = m_clients.find(client);
    if (it == m_clients.end() || it->second->reapable.empty()) {
        umockdev_ioctl_client_complete(client, -1, m_gone ? ENODEV : EAGAIN);
        return;
    }
    auto u = it->second->reapable.front();
    it->second->reapable.pop_front();
    GError* err = nullptr;
    UMockdevIoctlData* slot =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*), &err);
    if (!slot) {
        if (err) g_error_free(err);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    umockdev_ioctl_data_set_ptr(slot, 0, u->data);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(slot);
    updateDoorbell();
}

void usbfs_node::discard(UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    unsigned long addr = 0;
    std::memcpy(&addr, arg->data, sizeof addr);
    auto it = m_clients.find(client);
    if (it != m_clients.end()) {
        for (auto& u : it->second->pending) {
            if (u->addr != addr) continue;
            auto keep = u;
            finish(keep, -ENOENT, 0);
            umockdev_ioctl_client_complete(client, 0, 0);
            updateDoorbell();
            return;
        }
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
}

bool usbfs_node::onIoctl(UMockdevIoctlClient* client) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const unsigned long req = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* err = nullptr;
    auto withUint = [&](auto fn) {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), &err);
        if (!d) {
            if (err) g_error_free(err);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        fn(*reinterpret_cast<unsigned int*>(d->data));
        g_object_unref(d);
    };
    // Claims are not tracked per client: umockdev reports a closed client only late (and
    // its "connected" state not at all once the socket is gone), so exclusive use by a
    // second process is not emulated.
    auto claim = [&](unsigned int iface) {
        if (!m_probe->desc().findInterface(uint8_t(iface))) return umockdev_ioctl_client_complete(client, -1, ENOENT);
        umockdev_ioctl_client_complete(client, 0, 0);
    };
    switch (req) {
    case USBDEVFS_SUBMITURB: submit(client); return true;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: reap(client); return true;
    case USBDEVFS_DISCARDURB: discard(client); return true;
    default: break;
    }
    if (m_gone) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return true;
    }
    switch (req) {
    case USBDEVFS_GET_CAPABILITIES:
        withUint([&](unsigned int& caps) {
            caps = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                   USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            umockdev_ioctl_client_complete(client, 0, 0);
        });
        return true;
    case USBDEVFS_CLAIMINTERFACE: withUint([&](unsigned int& i) { claim(i); }); return true;
    case USBDEVFS_DISCONNECT_CLAIM: {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_disconnect_claim), &err);
        if (!d) {
            if (err) g_error_free(err);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return true;
        }
        claim(reinterpret_cast<usbdevfs_disconnect_claim*>(d->data)->interface);
        g_object_unref(d);
        return true;
    }
    case USBDEVFS_RELEASEINTERFACE:
        withUint([&](unsigned int& i) {
            if (!m_probe->desc().findInterface(uint8_t(i))) return umockdev_ioctl_client_complete(client, -1, EINVAL);
            umockdev_ioctl_client_complete(client, 0, 0);
        });
        return true;
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
        withUint([&](unsigned int& ep) {
            m_probe->clearHalt(uint8_t(ep));
            umockdev_ioctl_client_complete(client, 0, 0);
        });
        return true;
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_RESET:
    case USBDEVFS_CLAIM_PORT:
    case USBDEVFS_RELEASE_PORT:
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:  // driver (dis)connect: no kernel driver is bound
        umockdev_ioctl_client_complete(client, -1, ENODATA);
        return true;
    case USBDEVFS_GET_SPEED: {
        const int mbps = m_probe->desc().speed_mbps;
        umockdev_ioctl_client_complete(client, mbps >= 5000 ? 5 : mbps >= 480 ? 3 : mbps >= 12 ? 2 : 1, 0);
        return true;
    }
    default: break;
    }
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return true;
}

void usbfs_node::onVanished(UMockdevIoctlClient* client) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_clients.erase(client);
    updateDoorbell();
}

}  // namespace pavix_bench
