#include "DeviceMgr/api/devmgr_exception.h"
#include "DeviceMgr/database/devicedb_device.h"
#include "DeviceMgr/device_manager_dir.h"
#include "DeviceMgr/devices/usbhardwaredev.h"
#include "DeviceMgr/usb_devicemgr.h"
#include "inproc/inproc_device.h"
#include "model/generic_probes.h"
#include "support/capture_sink.h"

#include <gtest/gtest.h>

#include <tuple>

using morvane::devicemgrapi::devmgr_exception;
using morvane::devices::devicedb_config;
using morvane::devices::devicedb_device;
using morvane::devices::param_db;
using morvane::devices::usb_devicemgr;
using morvane::logger::logmgr;

namespace {

// The shared base with nothing to scan: createDevice and removeUsbDevice on their own.
class bare_manager : public usb_devicemgr {
public:
    bare_manager(logmgr& log, const std::shared_ptr<param_db>& store, std::recursive_mutex& scan)
        : usb_devicemgr("bare", log, 0, store, scan) {}
    void stop() override {}
    void start() override {}
    void lookForDeviceChange() override {}
    using usb_devicemgr::createDevice;
};

std::shared_ptr<morvane::devices::usbdevice> objectAt(const std::string& serial, uint8_t port) {
    auto desc = pavix_bench::genericBulkProbe(0x04B4, 0xF152, serial);
    desc.ports = {port};
    return std::make_shared<pavix_bench::inproc_usbdevice>(pavix_bench::makeProbe(desc), 0);
}

struct FactoryCase {
    const char* name;
    const char* protocol;
    const char* device;
    bool created;
};

class UsbFactory : public ::testing::TestWithParam<FactoryCase> {
protected:
    logmgr log;
    std::recursive_mutex scan;
    std::shared_ptr<param_db> store = std::make_shared<param_db>();
};

TEST_P(UsbFactory, ChoosesByConfigurationNameProtocolAndRecord) {
    const FactoryCase c = GetParam();
    bare_manager mgr(log, store, scan);
    devicedb_device record(c.device);
    auto config = std::make_shared<devicedb_config>(&record, c.name, "SHORT", 0x04B4, 0xF152, c.protocol, 0, 0);
    const boost::any endpoints = std::make_tuple(0, static_cast<unsigned char>(0x82), static_cast<unsigned char>(0x02));
    auto device = mgr.createDevice(config, objectAt("S-1", 1), usb_devicemgr::m_db_p, endpoints);
    EXPECT_EQ(device != nullptr, c.created);
    if (device) {
        EXPECT_EQ(device->getHardwareID(), std::string(c.name) + "-S-1");
        EXPECT_EQ(device->getShortHardwareID(), "SHORT-S-1");
        EXPECT_EQ(device->getSerialNum(), "S-1");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, UsbFactory,
    ::testing::Values(FactoryCase{"Tallvex2", "hid", "Tallvex2", true},
                      FactoryCase{"JLink", "bulk", "JLink", true},
                      FactoryCase{"Tallvex3", "hid", "Tallvex3", true},
                      FactoryCase{"Tallvex3", "bulk", "Tallvex3", true},
                      FactoryCase{"Tallvex3", "serial", "Tallvex3", false},
                      FactoryCase{"Tallvex3 CMSIS-DAP HID", "bulk", "Tallvex3", false},
                      FactoryCase{"Nimbrel4 CMSIS-DAP BULK", "bulk", "Nimbrel4", true},
                      FactoryCase{"CMSIS-DAP v2", "bulk", "DAPLink", true},
                      FactoryCase{"Serial", "serial", "Serial", true},
                      FactoryCase{"Selvo WiFi", "bulk", "Selvo WiFi", true},
                      FactoryCase{"anything", "serial", "Selvo BlueTooth", true},
                      FactoryCase{"Tallvex Bootloader", "hid", "Tallvex Bootloader", true},
                      FactoryCase{"tallvex2", "hid", "Tallvex2", false},  // names are case-sensitive
                      FactoryCase{"Tallvex3 USB-UART", "serial", "Tallvex3", false}));

TEST_F(UsbFactory, BulkBranchNeedsTheEndpointTuple) {
    bare_manager mgr(log, store, scan);
    devicedb_device record("Tallvex3");
    auto config = std::make_shared<devicedb_config>(&record, "Tallvex3", "TL3", 0x04B4, 0xF152, "bulk", 1, 0);
    try {
        mgr.createDevice(config, objectAt("S-2", 1), usb_devicemgr::m_db_p, boost::any(42));
        FAIL() << "accepted a value that is no endpoint tuple";
    } catch (const devmgr_exception& e) {
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_INVALID_ARGUMENT);
    }
}

TEST_F(UsbFactory, DatabaseIsLoadedOnceForEveryManager) {
    bare_manager first(log, store, scan);
    bare_manager second(log, store, scan);
    ASSERT_NE(usb_devicemgr::m_db_p, nullptr);
    EXPECT_NE(usb_devicemgr::m_db_p->getBulkConfig(0x04B4, 0xF152), nullptr);
}

TEST_F(UsbFactory, RemovalByLocationTakesTheFirstMatchOnly) {
    bare_manager mgr(log, store, scan);
    devicedb_device record("Tallvex2");
    auto config = std::make_shared<devicedb_config>(&record, "Tallvex2", "TL2", 0x04B4, 0xF11A, "hid", 0, 0);
    auto shared = objectAt("A", 3);  // two hardware devices on one bus location
    auto a = mgr.createDevice(config, shared, usb_devicemgr::m_db_p, boost::any());
    auto b = mgr.createDevice(config, shared, usb_devicemgr::m_db_p, boost::any());
    auto other = mgr.createDevice(config, objectAt("C", 4), usb_devicemgr::m_db_p, boost::any());
    mgr.addProgrammingDevice(a);
    mgr.addProgrammingDevice(b);
    mgr.addProgrammingDevice(other);
    std::vector<std::shared_ptr<morvane::devicemgrapi::hardware_device_api>> gone;
    mgr.m_disconnected_signal.connect([&](auto d) {
        // Still listed while the slot runs.
        bool listed = false;
        for (const auto& x : mgr.getProgrammingDevices()) listed |= x == d;
        EXPECT_TRUE(listed);
        gone.push_back(d);
    });

    mgr.removeUsbDevice("1:9");  // nobody there
    EXPECT_TRUE(gone.empty());
    EXPECT_EQ(mgr.getProgrammingDevices().size(), 3u);

    mgr.removeUsbDevice(shared->getLocation());
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0], a);
    EXPECT_EQ(mgr.getProgrammingDevices().size(), 2u);
}

TEST_F(UsbFactory, QuickStartPresenceIsEnoughWhateverItsValue) {
    bare_manager mgr(log, store, scan);
    devicedb_device record("Tallvex Bootloader");
    auto config =
        std::make_shared<devicedb_config>(&record, "Tallvex Bootloader", "TLBOOT", 0x04B4, 0xF150, "hid", 0, 0);
    morvane::devices::scoped_param quick(*store, "quick_start", "");
    EXPECT_TRUE(store->has("quick_start"));
    EXPECT_NE(mgr.createDevice(config, objectAt("B", 5), usb_devicemgr::m_db_p, boost::any()), nullptr);
}

}  // namespace
