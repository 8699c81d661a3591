// udev tty ports and hot-plug events of virtual probes, as the serial backend and the
// hot-plug detector will see them.
#include "umockdev/bench_fixture.h"

#include <libudev.h>
#include <libusb.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace pavix_bench;

namespace {

struct udev_port {
    std::string name, node, driver, vid, pid, serial, iface, model, vendor;
};

std::vector<udev_port> ttyPorts() {
    std::vector<udev_port> out;
    udev* u = udev_new();
    udev_enumerate* e = udev_enumerate_new(u);
    udev_enumerate_add_match_subsystem(e, "tty");
    udev_enumerate_scan_devices(e);
    for (auto* l = udev_enumerate_get_list_entry(e); l; l = udev_list_entry_get_next(l)) {
        udev_device* d = udev_device_new_from_syspath(u, udev_list_entry_get_name(l));
        if (!d) continue;
        auto prop = [&](const char* k) {
            const char* v = udev_device_get_property_value(d, k);
            return std::string(v ? v : "");
        };
        udev_port p;
        p.name = udev_device_get_sysname(d);
        p.node = udev_device_get_devnode(d) ? udev_device_get_devnode(d) : "";
        if (udev_device* parent = udev_device_get_parent(d))
            p.driver = udev_device_get_driver(parent) ? udev_device_get_driver(parent) : "";
        p.vid = prop("ID_VENDOR_ID");
        p.pid = prop("ID_MODEL_ID");
        p.serial = prop("ID_SERIAL_SHORT");
        p.iface = prop("ID_USB_INTERFACE_NUM");
        p.model = prop("ID_MODEL");
        p.vendor = prop("ID_VENDOR");
        out.push_back(p);
        udev_device_unref(d);
    }
    udev_enumerate_unref(e);
    udev_unref(u);
    return out;
}

struct fd_guard {
    int fd;
    ~fd_guard() {
        if (fd >= 0) ::close(fd);
    }
};

std::string readFor(int fd, size_t want, int timeout_ms) {
    std::string got;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (got.size() < want && std::chrono::steady_clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        char buf[256];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, size_t(n));
    }
    return got;
}

class TtyBench : public bench_fixture {};
class HotplugBench : public bench_fixture {};

}  // namespace

TEST_F(TtyBench, EnumerationCarriesIdPropertiesAndParentDriver) {
    probe_desc d = genericSerialProbe(0x1209, 0x5E71, "SP-9");
    d.interfaces[0].number = 2;
    d.tty->interface_number = 2;
    d.tty->name = "ttyACM3";
    auto p = plug(d);
    auto ports = ttyPorts();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].name, "ttyACM3");
    EXPECT_EQ(ports[0].node, "/dev/ttyACM3");
    EXPECT_EQ(ports[0].driver, "cdc_acm");
    EXPECT_EQ(ports[0].vid, "1209");
    EXPECT_EQ(ports[0].pid, "5e71");
    EXPECT_EQ(ports[0].serial, "SP-9");
    EXPECT_EQ(ports[0].iface, "02");
    EXPECT_EQ(ports[0].model, "Generic_Serial_Probe");
    EXPECT_EQ(ports[0].vendor, "Virtual_Probe_Works");
    EXPECT_EQ(bench().ttyPath(*p), "/dev/ttyACM3");
}

TEST_F(TtyBench, BytesGoBothWaysAndUnplugHangsUp) {
    auto p = plug(genericSerialProbe());
    auto& fw = p->modelAs<generic_model>();
    fd_guard port{open("/dev/ttyACM0", O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)};
    ASSERT_GE(port.fd, 0) << strerror(errno);
    termios t{};
    ASSERT_EQ(tcgetattr(port.fd, &t), 0);
    cfmakeraw(&t);
    cfsetspeed(&t, B115200);
    ASSERT_EQ(tcsetattr(port.fd, TCSANOW, &t), 0);
    // The generic firmware loops bytes back.
    ASSERT_EQ(write(port.fd, "hello", 5), 5);
    EXPECT_EQ(readFor(port.fd, 5, 3000), "hello");
    ASSERT_GE(fw.receivedCount(), 1u);
    // A scripted answer delay holds the bytes back.
    fw.script(fault::delayMs(50));
    ASSERT_EQ(write(port.fd, "x", 1), 1);
    EXPECT_EQ(readFor(port.fd, 1, 3000), "x");

    bench().unplug(*p);
    pollfd pf{port.fd, POLLIN, 0};
    ASSERT_EQ(poll(&pf, 1, 3000), 1);
    EXPECT_TRUE(pf.revents & POLLHUP);
    char c;
    EXPECT_LE(read(port.fd, &c, 1), 0);
    EXPECT_TRUE(ttyPorts().empty());
}

TEST_F(HotplugBench, LibusbCallbackAndUdevMonitorSeeArrivalAndRemoval) {
    libusb_context* ctx = nullptr;
    ASSERT_EQ(libusb_init(&ctx), 0);
    ASSERT_TRUE(libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG));
    struct counts {
        std::atomic<int> arrived{0}, left{0};
    } seen;
    auto cb = [](libusb_context*, libusb_device* dev, libusb_hotplug_event ev, void* user) -> int {
        libusb_device_descriptor dd{};
        libusb_get_device_descriptor(dev, &dd);
        if (dd.idVendor != 0x1209 || dd.idProduct != 0x0002) return 0;
        auto* c = static_cast<counts*>(user);
        (ev == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED ? c->arrived : c->left)++;
        return 0;
    };
    libusb_hotplug_callback_handle handle = 0;
    ASSERT_EQ(libusb_hotplug_register_callback(
                  ctx, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT, LIBUSB_HOTPLUG_NO_FLAGS,
                  LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, cb, &seen, &handle),
              0);

    udev* u = udev_new();
    udev_monitor* mon = udev_monitor_new_from_netlink(u, "udev");
    ASSERT_NE(mon, nullptr);
    udev_monitor_filter_add_match_subsystem_devtype(mon, "usb", "usb_device");
    ASSERT_EQ(udev_monitor_enable_receiving(mon), 0);
    auto monitorSees = [&](const std::string& action) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < until) {
            pollfd pf{udev_monitor_get_fd(mon), POLLIN, 0};
            if (poll(&pf, 1, 50) <= 0) continue;
            udev_device* d = udev_monitor_receive_device(mon);
            if (!d) continue;
            const char* pid = udev_device_get_sysattr_value(d, "idProduct");
            bool hit = udev_device_get_action(d) == action && (action == "remove" || (pid && std::string(pid) == "0002"));
            udev_device_unref(d);
            if (hit) return true;
        }
        return false;
    };
    auto pump = [&](std::atomic<int>& counter) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        timeval tv{0, 50000};
        while (counter.load() == 0 && std::chrono::steady_clock::now() < until)
            libusb_handle_events_timeout_completed(ctx, &tv, nullptr);
        return counter.load();
    };

    auto p = plug(genericBulkProbe());
    EXPECT_TRUE(monitorSees("add"));
    EXPECT_EQ(pump(seen.arrived), 1);
    bench().unplug(*p);
    EXPECT_TRUE(monitorSees("remove"));
    EXPECT_EQ(pump(seen.left), 1);

    libusb_hotplug_deregister_callback(ctx, handle);
    udev_monitor_unref(mon);
    udev_unref(u);
    libusb_exit(ctx);
}
