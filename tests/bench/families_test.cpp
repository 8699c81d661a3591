// Every family identity of the shipped device database, plugged at the operating-system
// boundary, is found by the access path its configurations name.
#include "umockdev/bench_fixture.h"

#include <hidapi/hidapi.h>
#include <libudev.h>
#include <libusb.h>

#include <fstream>
#include <set>

using namespace pavix_bench;

class FamiliesBench : public bench_fixture {};

TEST_F(FamiliesBench, EveryConfigurationIsVisibleThroughItsAccessPath) {
    const std::string path = defaultDevdbPath();
    if (!std::ifstream(path).good()) GTEST_SKIP() << "no device database at " << path;
    const auto configs = readFamilies(path);
    auto descs = familyProbes(configs);
    uint8_t port = 1;
    for (auto& d : descs) {
        d.bus = uint8_t(1 + port / 8);
        d.ports = {uint8_t(1 + port % 8)};
        ++port;
        plug(d);
    }

    ASSERT_EQ(hid_init(), 0);
    std::set<std::tuple<uint16_t, uint16_t, int>> hid;
    hid_device_info* list = hid_enumerate(0, 0);
    for (auto* i = list; i; i = i->next) hid.insert({i->vendor_id, i->product_id, i->interface_number});
    hid_free_enumeration(list);
    hid_exit();

    libusb_context* ctx = nullptr;
    ASSERT_EQ(libusb_init(&ctx), 0);
    std::set<std::tuple<uint16_t, uint16_t, int>> bulk;
    libusb_device** devs = nullptr;
    ssize_t n = libusb_get_device_list(ctx, &devs);
    for (ssize_t k = 0; k < n; ++k) {
        libusb_device_descriptor dd{};
        libusb_get_device_descriptor(devs[k], &dd);
        libusb_config_descriptor* cfg = nullptr;
        if (libusb_get_config_descriptor(devs[k], 0, &cfg) != 0) continue;
        for (int i = 0; i < cfg->bNumInterfaces; ++i) {
            const auto& alt = cfg->interface[i].altsetting[0];
            if (alt.bInterfaceClass == 0xFF || alt.bInterfaceClass == 0x00)
                bulk.insert({dd.idVendor, dd.idProduct, alt.bInterfaceNumber});
        }
        libusb_free_config_descriptor(cfg);
    }
    libusb_free_device_list(devs, 1);
    libusb_exit(ctx);

    std::set<std::tuple<uint16_t, uint16_t, int>> serial;
    udev* u = udev_new();
    udev_enumerate* e = udev_enumerate_new(u);
    udev_enumerate_add_match_subsystem(e, "tty");
    udev_enumerate_scan_devices(e);
    for (auto* l = udev_enumerate_get_list_entry(e); l; l = udev_list_entry_get_next(l)) {
        udev_device* d = udev_device_new_from_syspath(u, udev_list_entry_get_name(l));
        serial.insert({uint16_t(std::stoul(udev_device_get_property_value(d, "ID_VENDOR_ID"), nullptr, 16)),
                       uint16_t(std::stoul(udev_device_get_property_value(d, "ID_MODEL_ID"), nullptr, 16)),
                       std::stoi(udev_device_get_property_value(d, "ID_USB_INTERFACE_NUM"), nullptr, 16)});
        udev_device_unref(d);
    }
    udev_enumerate_unref(e);
    udev_unref(u);

    for (const auto& c : configs) {
        SCOPED_TRACE(c.name + " pid " + std::to_string(c.pid) + " if " + std::to_string(c.interface));
        const auto key = std::make_tuple(c.vid, c.pid, int(c.interface));
        if (c.protocol == "hid") {
            EXPECT_TRUE(hid.count(key));
            EXPECT_FALSE(bulk.count(key));  // a HID interface is never offered to the bulk path
        } else if (c.protocol == "bulk") {
            EXPECT_TRUE(bulk.count(key));
        } else if (c.protocol == "serial") {
            EXPECT_TRUE(serial.count(key));
        } else {
            ADD_FAILURE() << "unknown protocol " << c.protocol;
        }
    }
}
