// The libusb manager and its device objects through the real libusb, against virtual probes.
#include "libusb_env.h"

#include <functional>
#include <set>

using namespace libusb_env;
using pavix_bench::bytes;
using pavix_bench::fault;
using pavix_bench::generic_model;
using pavix_bench::probe_desc;

namespace {

class LibusbBackend : public libusb_fixture {
protected:
    probe_desc family(const std::string& device, uint16_t pid = 0) {
        return pavix_bench::familyProbe(pavix_bench::readFamilies(pavix_bench::defaultDevdbPath()), device, pid);
    }
};

std::set<std::string> idsOf(const std::list<device_ptr>& devices) {
    std::set<std::string> ids;
    for (const auto& d : devices) ids.insert(d->getHardwareID());
    return ids;
}

TEST_F(LibusbBackend, TwoInterfacesAtOneLocationBothAppearKeepTheirOwnProductAndBothLeave) {
    auto probe = plugFamily("Tallvex3", 0xF152);
    auto& d = dir();
    d.initialize();
    const std::string serial = probe->desc().serial;
    EXPECT_EQ(idsOf(devices()),
              (std::set<std::string>{"Tallvex3 CMSIS-DAP BULK-" + serial, "Tallvex3-" + serial}));
    ASSERT_EQ(connected.size(), 2u);

    std::map<int, std::shared_ptr<libusb_deviceobj>> byInterface;
    for (const auto& dev : connected) {
        auto obj = objectOf(dev);
        ASSERT_NE(obj, nullptr);
        byInterface[obj->getCurrentInterface()] = obj;
        EXPECT_EQ(obj->getLocation(), probe->desc().busLocation());
        EXPECT_EQ(obj->getSerial(), serial);
        EXPECT_EQ(obj->getManufacturerStr(), "Morvane");
        EXPECT_EQ(obj->getName(), "");
        EXPECT_FALSE(obj->isOpen());
    }
    ASSERT_EQ(byInterface.size(), 2u);
    // Each object reports the text of its own interface, whichever was created last.
    EXPECT_EQ(byInterface[0]->getProductStr(), "Tallvex3 CMSIS-DAP BULK");
    EXPECT_EQ(byInterface[1]->getProductStr(), "Tallvex3 Bridge");
    EXPECT_EQ(byInterface[0]->getEndpointIn(), 0x81);
    EXPECT_EQ(byInterface[0]->getEndpointOut(), 0x01);
    EXPECT_EQ(byInterface[1]->getEndpointIn(), 0x82);
    EXPECT_EQ(byInterface[1]->getEndpointOut(), 0x02);

    d.hardwareChange();  // nothing changed: no signal
    EXPECT_EQ(connected.size(), 2u);
    EXPECT_TRUE(disconnected.empty());

    bench().unplug(*probe);
    d.hardwareChange();
    EXPECT_EQ(disconnected.size(), 2u);
    EXPECT_TRUE(devices().empty());
}

TEST_F(LibusbBackend, AProbeBehindTwoHubsHasItsWholePortPathAsLocation) {
    probe_desc desc = family("DAPLink");
    desc.bus = 3;
    desc.ports = {2, 4, 1};
    desc.speed_mbps = 480;
    plug(desc);
    auto& d = dir();
    d.initialize();
    ASSERT_EQ(connected.size(), 1u);
    EXPECT_EQ(connected[0]->getLocation(), "3:2,4,1");
    auto obj = objectOf(connected[0]);
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(obj->getLocation(), "3:2,4,1");
    EXPECT_EQ(obj->getBusNumber(), 3);
    EXPECT_EQ(obj->getPortNumber(), 1);
    EXPECT_EQ(obj->getSpeedCode(), LIBUSB_SPEED_HIGH);
    // DAPLink names its product in the device descriptor, not in the interface.
    EXPECT_EQ(obj->getProductStr(), "DAPLink");
}

TEST_F(LibusbBackend, JLinkProbesAreRecognisedByTheirProductRangesOnly) {
    const uint16_t pids[] = {0x0100, 0x0101, 0x0108, 0x0109, 0x1000, 0x1001, 0x102F, 0x1030};
    uint8_t port = 1;
    for (uint16_t pid : pids) {
        probe_desc desc = pavix_bench::genericBulkProbe(0x1366, pid, "JL" + std::to_string(pid));
        desc.bus = uint8_t(1 + port / 6);
        desc.ports = {uint8_t(1 + port % 6)};
        ++port;
        plug(desc);
    }
    auto& d = dir();
    d.initialize();
    std::set<uint16_t> found;
    for (const auto& dev : connected) {
        auto obj = objectOf(dev);
        ASSERT_NE(obj, nullptr);
        found.insert(obj->getPID());
        EXPECT_EQ(obj->getDbName(), "JLink");
        EXPECT_EQ(obj->getCurrentInterface(), 0);
        // No endpoint search for J-Link: both addresses are defined as 0.
        EXPECT_EQ(obj->getEndpointIn(), 0);
        EXPECT_EQ(obj->getEndpointOut(), 0);
        EXPECT_EQ(obj->getProductStr(), "Generic Bulk Probe");
    }
    EXPECT_EQ(found, (std::set<uint16_t>{0x0101, 0x0108, 0x1001, 0x102F}));
}

// Which interfaces of which family become devices, per supported-devices text.
struct ScanRow {
    const char* device;
    uint16_t pid;
    const char* supported;
    std::set<std::string> configs;  // configuration names (hardware ID without "-serial")
};

class LibusbScanFilter : public LibusbBackend, public ::testing::WithParamInterface<ScanRow> {};

TEST_P(LibusbScanFilter, AnnouncedInterfaces) {
    const ScanRow& r = GetParam();
    auto probe = plugFamily(r.device, r.pid);
    auto& d = dir(r.supported);
    d.initialize();
    std::set<std::string> expected;
    for (const auto& c : r.configs) expected.insert(c + "-" + probe->desc().serial);
    EXPECT_EQ(idsOf(devices()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LibusbScanFilter,
    ::testing::Values(ScanRow{"Tallvex3", 0xF152, "0x00000001 ", {"Tallvex3 CMSIS-DAP BULK"}},
                      ScanRow{"Tallvex3", 0xF152, "0x00000008 ", {"Tallvex3"}},
                      ScanRow{"Nimbrel4", 0xF155, "0x00000002 ", {"Nimbrel4"}},
                      ScanRow{"Nimbrel4", 0xF155, "0x00000000", {"Nimbrel4 CMSIS-DAP BULK", "Nimbrel4"}},
                      ScanRow{"DAPLink", 0xF153, "0x00000008 ", {}},
                      ScanRow{"Selvo WiFi", 0xF160, "0x00000040 ", {"Selvo WiFi"}},
                      ScanRow{"Selvo WiFi", 0xF160, "0x00000001 0x00000008 ", {}},
                      // HID probes belong to the HID backend.
                      ScanRow{"Tallvex3", 0xF151, "0x00000000", {}}));

TEST_F(LibusbBackend, AnInterfaceOfClassHidIsNeverConsidered) {
    probe_desc desc = family("DAPLink");
    desc.interfaces.at(0).cls = 0x03;
    plug(desc);
    auto& d = dir();
    d.initialize();
    EXPECT_TRUE(connected.empty());
}

TEST_F(LibusbBackend, ASendLargerThanThePacketSizeFailsBeforeAnyTransfer) {
    auto probe = plugFamily("DAPLink");
    auto& fw = probe->modelAs<generic_model>();
    dir().initialize();
    auto obj = openedObject();
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(obj->getEndpointMaxPacketSize(0x01), 64);
    auto e = thrownBy([&] { obj->sendBulkPacket(0x01, std::vector<unsigned char>(65, 0x11), 500); });
    EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_BUFFER_SIZE);
    EXPECT_STREQ(e.what(), "Data size when sending bulk packet exceeds maximum endpoint packet size");
    EXPECT_EQ(fw.receivedCount(), 0u);

    obj->sendBulkPacket(0x01, std::vector<unsigned char>(64, 0x11), 500);  // exactly one packet is fine
    EXPECT_EQ(fw.receivedCount(), 1u);
}

TEST_F(LibusbBackend, MissingEndpointsClosedHandlesAndUnsupportedCallsThrowInsteadOfCrashing) {
    plugFamily("DAPLink");
    dir().initialize();
    auto obj = openedObject();
    ASSERT_NE(obj, nullptr);
    std::vector<unsigned char> in;
    EXPECT_TRUE(obj->hasEndpoint(0x81));
    EXPECT_FALSE(obj->hasEndpoint(0x85));
    EXPECT_EQ(obj->getEndpointDescriptor(0x85), nullptr);
    auto e = thrownBy([&] { obj->sendBulkPacket(0x05, {1, 2}, 100); });
    EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_COMMAND_FAILED);
    EXPECT_STREQ(e.what(), "Out Endpoint is not found");
    EXPECT_EQ(thrownBy([&] { obj->receiveBulkPacket(0x85, in, 100); }).getErrorCode(),
              devmgr_exception::ERR_COMMAND_FAILED);
    EXPECT_EQ(thrownBy([&] { obj->getEndpointMaxPacketSize(0x85); }).getErrorCode(),
              devmgr_exception::ERR_COMMAND_FAILED);
    e = thrownBy([&] { obj->setConfiguration(7); });
    EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_INVALID_VALUE);
    EXPECT_STREQ(e.what(), "Configuration requested in setConfiguration call is not valid");
    e = thrownBy([&] { obj->open(); });
    EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_OPEN_STATE);
    EXPECT_STREQ(e.what(), "usb device already open");

    obj->close();
    EXPECT_FALSE(obj->isOpen());
    // The configuration descriptors went with the handle.
    for (auto call : std::vector<std::function<void()>>{
             [&] { obj->sendBulkPacket(0x01, {1}, 100); }, [&] { obj->receiveBulkPacket(0x81, in, 100); },
             [&] { obj->controlPacket(0xC0, 0x30, 0, 0, in, 100); }, [&] { obj->hasEndpoint(0x81); },
             [&] { obj->resetEndpoint(0x81); }, [&] { obj->setConfiguration(1); }})
        EXPECT_EQ(thrownBy(call).getErrorCode(), devmgr_exception::ERR_NOT_OPEN);

    const struct {
        std::function<void()> call;
        const char* text;
    } unsupported[] = {
        {[&] { obj->getSpeed(); }, "getSpeed is not supported by libusb device manager"},
        {[&] { obj->getDescription(); }, "getDescription is not supported by libusb device manager"},
        {[&] { obj->getHIDDevice(); }, "getHIDDevice is not supported by libusb device manager"},
    };
    for (const auto& u : unsupported) {
        e = thrownBy(u.call);
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_NOT_SUPPORTED);
        EXPECT_STREQ(e.what(), u.text);
    }

    // It can be opened again.
    obj->open();
    obj->setConfiguration(1);
    obj->sendBulkPacket(0x01, {0x42, 0, 1}, 500);
    obj->receiveBulkPacket(0x81, in, 1000);
    EXPECT_EQ(in.at(0), 0x42);
}

TEST_F(LibusbBackend, ControlTransfersKeepToTheirBufferAndTheRequestDirection) {
    auto probe = plugFamily("DAPLink");
    auto& fw = probe->modelAs<generic_model>();
    fw.controlIn(0x30, {9, 8, 7});
    dir().initialize();
    auto obj = openedObject();
    ASSERT_NE(obj, nullptr);

    std::vector<unsigned char> data;
    obj->controlPacket(0xC0, 0x30, 0, 0, data, 1000);  // an IN request without a size: up to 64 bytes
    EXPECT_EQ(data, (std::vector<unsigned char>{9, 8, 7}));

    data = {0x11, 0x22};
    obj->controlPacket(0x40, 0x31, 1, 0, data, 1000);
    EXPECT_EQ(fw.received().back(), (bytes{0x11, 0x22}));
    EXPECT_EQ(data, (std::vector<unsigned char>{0x11, 0x22}));

    const size_t before = fw.receivedCount();
    data.clear();
    obj->controlPacket(0x40, 0x32, 0, 0, data, 1000);  // an OUT request without data sends none
    EXPECT_TRUE(data.empty());
    if (fw.receivedCount() > before) EXPECT_TRUE(fw.received().back().empty());

    data.assign(65, 0x55);
    auto e = thrownBy([&] { obj->controlPacket(0x40, 0x31, 0, 0, data, 1000); });
    EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_BUFFER_SIZE);
    data.assign(65, 0);
    EXPECT_EQ(thrownBy([&] { obj->controlPacket(0xC0, 0x30, 0, 0, data, 1000); }).getErrorCode(),
              devmgr_exception::ERR_BUFFER_SIZE);
    EXPECT_EQ(fw.receivedCount(), before + (fw.receivedCount() > before ? 1 : 0));

    fw.script(fault::stall());
    data.clear();
    e = thrownBy([&] { obj->controlPacket(0xC0, 0x30, 0, 0, data, 1000); });
    EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_PIPE);
    EXPECT_STREQ(e.what(), "Endpoint has halted - cannot send control packet");
}

TEST_F(LibusbBackend, AHaltedEndpointIsClearedByResetEndpoint) {
    auto probe = plugFamily("DAPLink");
    probe->modelAs<generic_model>().script(fault::stall());
    dir().initialize();
    auto obj = openedObject();
    ASSERT_NE(obj, nullptr);
    std::vector<unsigned char> in;
    obj->sendBulkPacket(0x01, {0x50, 0, 0}, 500);
    EXPECT_EQ(thrownBy([&] { obj->receiveBulkPacket(0x81, in, 1000); }).getErrorCode(), devmgr_exception::ERR_PIPE);
    obj->resetEndpoint(0x81);
    obj->sendBulkPacket(0x01, {0x51, 0, 0}, 500);
    obj->receiveBulkPacket(0x81, in, 1000);
    EXPECT_EQ(in.at(0), 0x51);
}

TEST_F(LibusbBackend, ObjectsKeepTheLibusbContextAfterTheirManagerIsGone) {
    plugFamily("DAPLink");
    dir().initialize();
    auto obj = objectOf(connected.at(0));
    ASSERT_NE(obj, nullptr);
    std::weak_ptr<morvane::devices::libusb_session> session = obj->getSession();
    m_dir.reset();  // the manager goes; the object and its context stay
    EXPECT_FALSE(session.expired());
    EXPECT_EQ(obj->getPID(), 0xF153);
    EXPECT_EQ(obj->getProductStr(), "DAPLink");
    connected.clear();
    disconnected.clear();
    obj.reset();  // the last holder: unreferences its device, then the context exits
    EXPECT_TRUE(session.expired());
}

}  // namespace
