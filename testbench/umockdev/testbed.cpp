#include "umockdev/testbed.h"

#include "umockdev/mock_env.h"
#include "umockdev/nodes.h"
#include "model/generic_model.h"

#include <umockdev.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>
#include <unistd.h>

namespace pavix_bench {

namespace {

std::string hex(const bytes& b) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (uint8_t v : b) {
        s += digits[v >> 4];
        s += digits[v & 15];
    }
    return s;
}

std::string fmt(const char* f, unsigned v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

// udev's cleaned form of a USB string (ID_VENDOR, ID_MODEL).
std::string udevClean(std::string s) {
    for (char& c : s)
        if (c == ' ') c = '_';
    return s;
}

void mkdirs(const std::string& path) {
    for (size_t at = 1; (at = path.find('/', at)) != std::string::npos; ++at) mkdir(path.substr(0, at).c_str(), 0755);
    mkdir(path.c_str(), 0755);
}

struct usb_dev {
    std::shared_ptr<virtual_probe> probe;
    std::string syspath;  // "/sys/devices/..."
    uint8_t devnum = 0;
    std::string usbfs;    // "/dev/bus/usb/BBB/DDD"
    std::shared_ptr<usbfs_node> usbfs_dev;
    std::vector<std::string> children;  // sysfs paths below it, parents first
    std::map<uint8_t, std::string> hidraw_paths;
    std::vector<std::shared_ptr<hidraw_node>> hidraw;
    std::string tty_path;
    std::shared_ptr<tty_node> tty;
    int unplug_listener = 0;
    bool plugged = true;
};

probe_desc hubDesc(uint8_t bus, std::vector<uint8_t> ports) {
    probe_desc d;
    d.bus = bus;
    d.ports = std::move(ports);
    d.device_class = 9;
    d.speed_mbps = 480;
    d.bcd_device = 0x0100;
    if (d.ports.empty()) {
        d.vid = 0x1d6b;
        d.pid = 0x0002;
        d.manufacturer = "Virtual Host Controller";
        d.product = "Root Hub";
        d.serial = "vhci-" + std::to_string(bus);
    } else {
        d.vid = 0x1209;
        d.pid = 0x7ff0;
        d.manufacturer = "Virtual Probe Works";
        d.product = "Virtual USB Hub";
    }
    interface_desc i;
    i.number = 0;
    i.cls = 9;
    i.endpoints = {{0x81, 3, 1, 12}};
    d.interfaces.push_back(i);
    return d;
}

}  // namespace

struct testbed::impl : std::enable_shared_from_this<testbed::impl> {
    UMockdevTestbed* tb = nullptr;
    std::string root;
    mutable std::recursive_mutex mutex;
    std::map<std::string, usb_dev> hubs;                     // by sysname ("usb1", "1-4")
    std::map<const virtual_probe*, usb_dev> probes;
    std::map<uint8_t, uint8_t> next_devnum;                  // per bus
    unsigned next_hidraw = 0, next_hid = 1;

    void add(const std::string& record) {
        GError* err = nullptr;
        if (!umockdev_testbed_add_from_string(tb, record.c_str(), &err)) {
            std::string what = err ? err->message : "unknown error";
            if (err) g_error_free(err);
            throw std::runtime_error("umockdev rejected a record: " + what + "\n" + record);
        }
    }

    // The usb_device record of a probe or hub, plus its usbdevfs node.
    void addUsbDevice(usb_dev& u, const std::string& parent_syspath, const std::string& sysname) {
        const probe_desc& d = u.probe->desc();
        u.syspath = parent_syspath + "/" + sysname;
        u.devnum = next_devnum[d.bus]++;
        if (u.devnum == 0) u.devnum = next_devnum[d.bus]++;
        char node[40];
        std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", d.bus, u.devnum);
        u.usbfs = node;
        std::ostringstream r;
        r << "P: " << u.syspath.substr(4) << "\n"
          << "E: DEVNAME=" << u.usbfs << "\n"
          << "E: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nE: DRIVER=usb\n"
          << "E: PRODUCT=" << fmt("%x", d.vid) << "/" << fmt("%x", d.pid) << "/" << fmt("%x", d.bcd_device) << "\n"
          << "E: BUSNUM=" << fmt("%03u", d.bus) << "\nE: DEVNUM=" << fmt("%03u", u.devnum) << "\n"
          << "E: MAJOR=189\nE: MINOR=" << ((d.bus - 1) * 128 + u.devnum - 1) << "\n"
          << "E: ID_VENDOR_ID=" << fmt("%04x", d.vid) << "\nE: ID_MODEL_ID=" << fmt("%04x", d.pid) << "\n"
          << "E: ID_SERIAL_SHORT=" << d.serial << "\n"
          << "A: dev=189:" << ((d.bus - 1) * 128 + u.devnum - 1) << "\\n\n"
          << "A: busnum=" << unsigned(d.bus) << "\\n\nA: devnum=" << unsigned(u.devnum) << "\\n\n"
          << "A: speed=" << d.speed_mbps << "\\n\nA: bConfigurationValue=1\\n\nA: bNumConfigurations=1\\n\n"
          << "A: bNumInterfaces=" << fmt("%2u", unsigned(d.interfaces.size())) << "\\n\n"
          << "A: bDeviceClass=" << fmt("%02x", d.device_class) << "\\n\nA: bMaxPacketSize0=64\\n\n"
          << "A: idVendor=" << fmt("%04x", d.vid) << "\\n\nA: idProduct=" << fmt("%04x", d.pid) << "\\n\n"
          << "A: bcdDevice=" << fmt("%04x", d.bcd_device) << "\\n\nA: version= 2.00\\n\n";
        if (!d.ports.empty()) {
            std::string devpath;
            for (size_t i = 0; i < d.ports.size(); ++i) devpath += (i ? "." : "") + std::to_string(d.ports[i]);
            r << "A: devpath=" << devpath << "\\n\n";
        } else {
            r << "A: devpath=0\\n\nA: maxchild=8\\n\n";
        }
        if (!d.manufacturer.empty()) r << "A: manufacturer=" << d.manufacturer << "\\n\n";
        if (!d.product.empty()) r << "A: product=" << d.product << "\\n\n";
        if (!d.serial.empty()) r << "A: serial=" << d.serial << "\\n\n";
        r << "H: descriptors=" << hex(deviceDescriptor(d)) << hex(configDescriptor(d)) << "\n";
        add(r.str());
        mkdirs(root + u.usbfs.substr(0, u.usbfs.rfind('/')));
        u.usbfs_dev = std::make_shared<usbfs_node>(tb, u.probe, u.usbfs, root);
        u.usbfs_dev->attach();
    }

    std::string hubFor(uint8_t bus, const std::vector<uint8_t>& ports) {
        std::string name = "usb" + std::to_string(bus);
        std::string parent = "/sys/devices/pci0000:00/0000:00:" + fmt("%02x", 0x10u + bus) + ".0";
        if (!hubs.count(name)) {
            usb_dev h;
            h.probe = makeProbe(hubDesc(bus, {}));
            addUsbDevice(h, parent, name);
            hubs[name] = h;
        }
        std::string at = name;
        std::string sys = std::to_string(bus) + "-";
        for (size_t i = 0; i + 1 < ports.size(); ++i) {
            sys += (i ? "." : "") + std::to_string(ports[i]);
            if (!hubs.count(sys)) {
                usb_dev h;
                h.probe = makeProbe(hubDesc(bus, std::vector<uint8_t>(ports.begin(), ports.begin() + long(i) + 1)));
                addUsbDevice(h, hubs[at].syspath, sys);
                hubs[sys] = h;
            }
            at = sys;
        }
        return hubs[at].syspath;
    }

    std::shared_ptr<virtual_probe> makeProbe(probe_desc d) {
        return std::make_shared<virtual_probe>(std::move(d), std::make_shared<generic_model>());
    }

    // The wanted tty name, or the next free one of its kind when another probe holds it
    // (two probes of one family both ask for the same name).
    std::string freeTtyName(const std::string& wanted) {
        auto taken = [&](const std::string& n) {
            for (const auto& [k, u] : probes)
                if (u.plugged && u.tty_path == "/dev/" + n) return true;
            return false;
        };
        if (!taken(wanted)) return wanted;
        size_t digits = wanted.find_last_not_of("0123456789") + 1;
        const std::string stem = wanted.substr(0, digits);
        for (int i = 0;; ++i)
            if (!taken(stem + std::to_string(i))) return stem + std::to_string(i);
    }
    static int ttyMinor(const std::string& name) {
        size_t digits = name.find_last_not_of("0123456789") + 1;
        return digits < name.size() ? std::stoi(name.substr(digits)) : 0;
    }

    void plug(std::shared_ptr<virtual_probe> p) {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        if (probes.count(p.get())) throw std::logic_error("probe already plugged");
        const probe_desc& d = p->desc();
        if (d.ports.empty()) throw std::invalid_argument("a probe needs a port path");
        for (const auto& [k, other] : probes)
            if (other.plugged && k->desc().bus == d.bus && k->desc().ports == d.ports)
                throw std::invalid_argument("port " + d.sysName() + " is taken");
        if (hubs.count(d.sysName())) throw std::invalid_argument("port " + d.sysName() + " holds a hub");
        usb_dev u;
        u.probe = p;
        addUsbDevice(u, hubFor(d.bus, d.ports), d.sysName());
        for (const auto& i : d.interfaces) {
            const std::string ifname = d.sysName() + ":1." + std::to_string(i.number);
            const std::string ifpath = u.syspath + "/" + ifname;
            const bool is_tty = d.tty && d.tty->interface_number == i.number;
            std::ostringstream r;
            r << "P: " << ifpath.substr(4) << "\n"
              << "E: DEVTYPE=usb_interface\nE: SUBSYSTEM=usb\n"
              << "E: INTERFACE=" << unsigned(i.cls) << "/" << unsigned(i.subclass) << "/" << unsigned(i.protocol) << "\n"
              << "A: bInterfaceNumber=" << fmt("%02x", i.number) << "\\n\nA: bAlternateSetting= 0\\n\n"
              << "A: bInterfaceClass=" << fmt("%02x", i.cls) << "\\n\nA: bInterfaceSubClass=" << fmt("%02x", i.subclass)
              << "\\n\nA: bInterfaceProtocol=" << fmt("%02x", i.protocol)
              << "\\n\nA: bNumEndpoints=" << fmt("%02x", unsigned(i.endpoints.size())) << "\\n\n";
            if (!i.name.empty()) r << "A: interface=" << i.name << "\\n\n";
            if (i.hid()) r << "E: DRIVER=usbhid\nL: driver=../../../../../../../bus/usb/drivers/usbhid\n";
            if (is_tty) r << "E: DRIVER=" << d.tty->driver << "\nL: driver=../../../../../../../bus/usb/drivers/" << d.tty->driver << "\n";
            add(r.str());
            u.children.push_back(ifpath);
            if (i.hid()) {
                const unsigned hidno = next_hid++;
                char hidname[32];
                std::snprintf(hidname, sizeof hidname, "0003:%04X:%04X.%04X", d.vid, d.pid, hidno);
                const std::string hidpath = ifpath + "/" + hidname;
                std::ostringstream h;
                h << "P: " << hidpath.substr(4) << "\n"
                  << "E: SUBSYSTEM=hid\nE: DRIVER=hid-generic\n"
                  << "E: HID_ID=0003:" << fmt("%08X", d.vid) << ":" << fmt("%08X", d.pid) << "\n"
                  << "E: HID_NAME=" << d.manufacturer << " " << d.product << "\n"
                  << "E: HID_PHYS=usb-virtual-" << d.sysName() << "/input" << unsigned(i.number) << "\n"
                  << "E: HID_UNIQ=" << d.serial << "\n"
                  << "E: MODALIAS=hid:b0003g0001v" << fmt("%08X", d.vid) << "p" << fmt("%08X", d.pid) << "\n"
                  << "H: report_descriptor=" << hex(i.hid_report_descriptor) << "\n";
                add(h.str());
                u.children.push_back(hidpath);
                const std::string rawname = "hidraw" + std::to_string(next_hidraw++);
                const std::string devnode = "/dev/" + rawname;
                auto n = std::make_shared<hidraw_node>(tb, p, i.number, devnode, root);
                std::ostringstream w;
                w << "P: " << hidpath.substr(4) << "/hidraw/" << rawname << "\n"
                  << "E: DEVNAME=" << devnode << "\nE: SUBSYSTEM=hidraw\n"
                  << "E: MAJOR=136\nE: MINOR=" << n->ptsNumber() << "\n"
                  << "L: device=../../../" << hidname << "\n"
                  << "A: dev=136:" << n->ptsNumber() << "\\n\n";
                add(w.str());
                n->attach();
                u.children.push_back(hidpath + "/hidraw/" + rawname);
                u.hidraw.push_back(n);
                u.hidraw_paths[i.number] = devnode;
            }
            if (is_tty) {
                const std::string ttyname = freeTtyName(d.tty->name);
                const std::string ttypath = ifpath + "/tty/" + ttyname;
                u.tty_path = "/dev/" + ttyname;
                std::ostringstream t;
                t << "P: " << ttypath.substr(4) << "\n"
                  << "N: " << ttyname << "\n"
                  << "E: DEVNAME=" << u.tty_path << "\nE: SUBSYSTEM=tty\n"
                  << "E: MAJOR=166\nE: MINOR=" << ttyMinor(ttyname) << "\n"
                  << "E: ID_BUS=usb\nE: ID_VENDOR=" << udevClean(d.manufacturer) << "\n"
                  << "E: ID_MODEL=" << udevClean(d.product) << "\n"
                  << "E: ID_VENDOR_ID=" << fmt("%04x", d.vid) << "\nE: ID_MODEL_ID=" << fmt("%04x", d.pid) << "\n"
                  << "E: ID_SERIAL=" << udevClean(d.manufacturer + "_" + d.product) << "_" << d.serial << "\n"
                  << "E: ID_SERIAL_SHORT=" << d.serial << "\n"
                  << "E: ID_USB_INTERFACE_NUM=" << fmt("%02x", i.number) << "\n"
                  << "E: ID_USB_DRIVER=" << d.tty->driver << "\n"
                  << "A: dev=166:" << ttyMinor(ttyname) << "\\n\n";
                add(t.str());
                u.children.push_back(ttypath);
                u.tty = std::make_shared<tty_node>(tb, p, u.tty_path);
            }
        }
        std::weak_ptr<impl> weak = shared_from_this();
        const virtual_probe* key = p.get();
        u.unplug_listener = p->onUnplug([weak, key] {
            if (auto self = weak.lock()) self->unplug(key);
        });
        probes[key] = std::move(u);
    }

    // Unlinks symlinks two levels below `dir` (bus/<x>/devices/<y>, class/<x>/<y>) whose
    // target is gone.
    static void removeDanglingLinks(const std::string& dir, int depth = 0) {
        DIR* d = opendir(dir.c_str());
        if (!d) return;
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            const std::string path = dir + "/" + name;
            struct stat lst {}, st {};
            if (lstat(path.c_str(), &lst) != 0) continue;
            if (S_ISLNK(lst.st_mode)) {
                if (stat(path.c_str(), &st) != 0) unlink(path.c_str());
            } else if (S_ISDIR(lst.st_mode) && depth < 2) {
                removeDanglingLinks(path, depth + 1);
            }
        }
        closedir(d);
    }

    void unplug(const virtual_probe* key) {
        std::lock_guard<std::recursive_mutex> lock(mutex);
        auto it = probes.find(key);
        if (it == probes.end() || !it->second.plugged) return;
        usb_dev& u = it->second;
        u.plugged = false;
        for (auto& h : u.hidraw) h->unplug();
        u.usbfs_dev->unplug();
        if (u.tty) {
            u.tty->unplug();
            unlink((root + u.tty_path).c_str());
        }
        for (auto c = u.children.rbegin(); c != u.children.rend(); ++c) umockdev_testbed_uevent(tb, c->c_str(), "remove");
        umockdev_testbed_uevent(tb, u.syspath.c_str(), "remove");
        umockdev_testbed_remove_device(tb, u.syspath.c_str());
        // umockdev leaves the bus and class links of removed devices behind; a probe plugged
        // again at the same port would then collide with them.
        removeDanglingLinks(root + "/sys/bus");
        removeDanglingLinks(root + "/sys/class");
        // The probe object may still say "connected" when unplugged from the outside.
        if (u.probe->connected()) u.probe->disconnect();
    }
};

testbed::testbed() {
    requireMockEnvironment();
    // The preload serves one testbed directory per process; a second one leaves handles of
    // the first half-forwarded and hangs. Fail instead.
    static std::atomic<bool> s_used{false};
    if (s_used.exchange(true))
        throw std::runtime_error("one testbed per process: run each bench case in its own process "
                                 "(ctest does; by hand use --gtest_filter)");
    m_impl = std::make_shared<impl>();
    m_impl->tb = umockdev_testbed_new();
    if (!umockdev_in_mock_environment()) {
        g_object_unref(m_impl->tb);
        throw std::runtime_error("the umockdev testbed is not visible to this process");
    }
    gchar* root = umockdev_testbed_get_root_dir(m_impl->tb);
    m_impl->root = root;
    g_free(root);
}

testbed::~testbed() {
    std::map<const virtual_probe*, usb_dev> probes;
    std::map<std::string, usb_dev> hubs;
    {
        std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
        probes.swap(m_impl->probes);
        hubs.swap(m_impl->hubs);
    }
    for (auto& [k, u] : probes) {
        if (u.unplug_listener) u.probe->removeListener(u.unplug_listener);
        u.tty.reset();
        u.hidraw.clear();
        u.usbfs_dev.reset();
    }
    hubs.clear();
    g_object_unref(m_impl->tb);
}

void testbed::plug(std::shared_ptr<virtual_probe> probe) { m_impl->plug(std::move(probe)); }

void testbed::unplug(const virtual_probe& probe) { m_impl->unplug(&probe); }

bool testbed::plugged(const virtual_probe& probe) const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    auto it = m_impl->probes.find(&probe);
    return it != m_impl->probes.end() && it->second.plugged;
}

namespace {
template <class M>
const usb_dev& find(M& probes, const virtual_probe& p) {
    auto it = probes.find(&p);
    if (it == probes.end()) throw std::invalid_argument("probe not plugged: " + p.desc().sysName());
    return it->second;
}
}  // namespace

std::string testbed::usbfsPath(const virtual_probe& probe) const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    return find(m_impl->probes, probe).usbfs;
}

std::string testbed::hidrawPath(const virtual_probe& probe, uint8_t iface) const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    const auto& u = find(m_impl->probes, probe);
    auto it = u.hidraw_paths.find(iface);
    if (it == u.hidraw_paths.end()) throw std::invalid_argument("no HID interface " + std::to_string(iface));
    return it->second;
}

std::string testbed::ttyPath(const virtual_probe& probe) const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    return find(m_impl->probes, probe).tty_path;
}

std::string testbed::sysPath(const virtual_probe& probe) const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    return find(m_impl->probes, probe).syspath;
}

uint8_t testbed::devnum(const virtual_probe& probe) const {
    std::lock_guard<std::recursive_mutex> lock(m_impl->mutex);
    return find(m_impl->probes, probe).devnum;
}

std::string testbed::rootDir() const { return m_impl->root; }

UMockdevTestbed* testbed::raw() const { return m_impl->tb; }

}  // namespace pavix_bench
