// The HID manager and its report channel through the real hidapi, against virtual probes.
#include "hid_env.h"

#include <atomic>
#include <thread>

using morvane::devicemgrapi::devmgr_exception;
using namespace hid_env;

namespace {

class HidBackend : public pavix_bench::bench_fixture {
protected:
    void SetUp() override {
        bench_fixture::SetUp();
        m_backends = std::make_unique<pavix_test::scoped_backends>(hidOnly(false));
    }
    void TearDown() override {
        m_dir.reset();
        m_backends.reset();
        bench_fixture::TearDown();
    }
    morvane::devices::device_manager_dir& dir(const std::string& supported = "0x00000000",
                                              const std::string& hidMode = "default") {
        m_dir = makeDir(m_log, supported, hidMode);
        m_dir->getHardwareConnectedSignal().connect([this](device_ptr d) { connected.push_back(d); });
        m_dir->getHardwareDisconnectedSignal().connect([this](device_ptr d) { disconnected.push_back(d); });
        return *m_dir;
    }

    morvane::logger::logmgr m_log;
    std::unique_ptr<pavix_test::scoped_backends> m_backends;
    std::shared_ptr<morvane::devices::device_manager_dir> m_dir;
    std::vector<device_ptr> connected, disconnected;
};

TEST_F(HidBackend, ScanReconcilesArrivalsAndRemovals) {
    auto probe = plugFamily("Tallvex Bootloader");
    auto& d = dir();
    d.initialize();
    ASSERT_EQ(connected.size(), 1u);
    const auto first = connected[0];
    EXPECT_EQ(first->getHardwareID(), "Tallvex Bootloader-" + probe->desc().serial);
    EXPECT_EQ(first->getSerialNum(), probe->desc().serial);
    EXPECT_EQ(first->getProductStr(), probe->desc().product);
    EXPECT_EQ(first->getLocation(), bench().hidrawPath(*probe, 0));

    d.hardwareChange();  // nothing changed: no signal
    EXPECT_EQ(connected.size(), 1u);
    EXPECT_TRUE(disconnected.empty());

    bench().unplug(*probe);
    d.hardwareChange();
    ASSERT_EQ(disconnected.size(), 1u);
    EXPECT_EQ(disconnected[0], first);
    EXPECT_TRUE(devices(d).empty());
    d.hardwareChange();
    EXPECT_EQ(disconnected.size(), 1u);

    plugFamily("Tallvex Bootloader");
    d.hardwareChange();
    ASSERT_EQ(connected.size(), 2u);
    EXPECT_NE(connected[1], first);  // a re-plugged probe is a new object
    EXPECT_EQ(devices(d).size(), 1u);
}

TEST_F(HidBackend, EachMatchingInterfaceBecomesADeviceSubjectToTheFamilyFilter) {
    auto probe = plugFamily("Tallvex3", 0xF151);
    auto& d = dir("0x00000008 0x00000010 ");  // third generation without CMSIS-DAP
    d.initialize();
    ASSERT_EQ(connected.size(), 1u);
    EXPECT_EQ(connected[0]->getHardwareID(), "Tallvex3-" + probe->desc().serial);
    EXPECT_EQ(connected[0]->getHostProtocol(), "hid");
}

TEST_F(HidBackend, BothHidInterfacesOfAThirdGenerationProbeWithAllFamilies) {
    auto probe = plugFamily("Tallvex3", 0xF151);
    auto& d = dir();
    d.initialize();
    std::set<std::string> ids;
    for (const auto& dev : devices(d)) ids.insert(dev->getHardwareID());
    EXPECT_EQ(ids, (std::set<std::string>{"Tallvex3 CMSIS-DAP HID-" + probe->desc().serial,
                                          "Tallvex3-" + probe->desc().serial}));
}

TEST_F(HidBackend, UnknownDevicesAreIgnored) {
    plug(pavix_bench::genericHidProbe(0x1209, 0x0001, "NOT-IN-DB"));
    auto& d = dir();
    d.initialize();
    EXPECT_TRUE(connected.empty());
}

TEST_F(HidBackend, ChannelWritesReadsAndTimesOut) {
    auto probe = plugFamily("Tallvex Bootloader");
    auto& d = dir();
    d.initialize();
    ASSERT_EQ(connected.size(), 1u);
    auto ch = channelOf(connected[0]);
    ASSERT_NE(ch, nullptr);
    auto& fw = probe->modelAs<pavix_bench::generic_model>();

    connected[0]->open();
    EXPECT_TRUE(ch->isOpen());
    std::vector<unsigned char> cmd(64, 0xA5);
    cmd[0] = 0x42;
    ch->writeReport(cmd, 100);
    std::vector<unsigned char> in;
    ch->readReport(in, 1000);
    ASSERT_EQ(in.size(), 64u);
    EXPECT_EQ(in[0], 0x42);
    EXPECT_EQ(in[1], 0x00);
    ASSERT_EQ(fw.receivedCount(), 1u);
    EXPECT_EQ(fw.received()[0], cmd);  // exactly 64 data bytes after the report number

    try {
        ch->writeReport(std::vector<unsigned char>(65, 1), 100);
        FAIL() << "65 bytes accepted";
    } catch (const devmgr_exception& e) {
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_NOT_OPEN);
        EXPECT_STREQ(e.what(), "writeReport > 64 bytes");
    }
    EXPECT_EQ(fw.receivedCount(), 1u);  // nothing was sent

    fw.script(pavix_bench::fault::noAnswer());
    ch->writeReport({0x43}, 100);
    ch->readReport(in, 50);
    EXPECT_EQ(in, std::vector<unsigned char>(64, 0));  // a time-out reads as zeros

    try {
        ch->open();
        FAIL();
    } catch (const devmgr_exception& e) {
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_OPEN_STATE);
        EXPECT_STREQ(e.what(), "hid usb device already open");
    }
    connected[0]->close();
    try {
        ch->close();
        FAIL();
    } catch (const devmgr_exception& e) {
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_OPEN_STATE);
        EXPECT_STREQ(e.what(), "hid usb device already closed");
    }
    try {
        ch->readReport(in, 10);
        FAIL();
    } catch (const devmgr_exception& e) {
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_NOT_OPEN);
        EXPECT_STREQ(e.what(), "Hid device is not open");
    }
}

TEST_F(HidBackend, CloseFromAnotherThreadWaitsForTheReadInFlight) {
    plugFamily("Tallvex Bootloader");
    auto& d = dir();
    d.initialize();
    ASSERT_EQ(connected.size(), 1u);
    auto ch = channelOf(connected[0]);
    ch->open();
    std::atomic<bool> reading{false};
    std::thread reader([&] {
        std::vector<unsigned char> in;
        reading = true;
        ch->readReport(in, 300);  // nothing comes: returns zeros at its time-out
        EXPECT_EQ(in, std::vector<unsigned char>(64, 0));
    });
    while (!reading) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ch->close();  // the hot-plug thread's close: must not free the handle under the read
    reader.join();
    std::vector<unsigned char> in;
    EXPECT_THROW(ch->readReport(in, 10), devmgr_exception);
    EXPECT_THROW(ch->writeReport({1}, 10), devmgr_exception);
}

TEST_F(HidBackend, UnplugDuringABlockingReadFailsTheRead) {
    auto probe = plugFamily("Tallvex Bootloader");
    auto& d = dir();
    d.initialize();
    auto device = connected.at(0);
    auto ch = channelOf(device);
    ch->open();
    std::thread unplugger([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        bench().unplug(*probe);
    });
    std::vector<unsigned char> in;
    bool failed = false;
    try {
        ch->readReport(in, 3000);
    } catch (const devmgr_exception& e) {
        failed = true;
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_NOT_OPEN);
    }
    unplugger.join();
    if (!failed) {
        EXPECT_EQ(in, std::vector<unsigned char>(64, 0));  // at worst a time-out, never data
        EXPECT_THROW(ch->writeReport({1}, 10), devmgr_exception);
    }
    d.hardwareChange();
    EXPECT_EQ(disconnected.size(), 1u);
    device->close();
}

TEST_F(HidBackend, ExclusiveAccessRefusesASecondOpener) {
    auto probe = plugFamily("Tallvex Bootloader");
    auto& d = dir("0x00000000", "exclusive");
    d.initialize();
    auto device = connected.at(0);
    device->open();
    morvane::devices::hidapi_device_excl other(m_log, device->getLocation().c_str());
    try {
        other.open();
        FAIL() << "second exclusive open succeeded";
    } catch (const devmgr_exception& e) {
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_BUSY);
        EXPECT_NE(std::string(e.what()).find("Cannot open Hid device with the path: " + device->getLocation() +
                                             " Err = 16, "),
                  std::string::npos)
            << e.what();
    }
    device->close();
    EXPECT_NO_THROW(other.open());
    other.close();
}

TEST_F(HidBackend, OpenOfAVanishedPathReportsTheSystemError) {
    morvane::devices::hidapi_device ch(m_log, "/dev/hidraw-gone");
    try {
        ch.open();
        FAIL();
    } catch (const devmgr_exception& e) {
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_COMMAND_FAILED);
        EXPECT_STREQ(e.what(), "Cannot open Hid device with the path: /dev/hidraw-gone Err = 2, No such file or directory");
    }
    EXPECT_FALSE(ch.isOpen());
}

TEST_F(HidBackend, BackendObjectAnswersUnsupportedOperationsWithFixedTexts) {
    plugFamily("Tallvex Bootloader");
    auto& d = dir();
    d.initialize();
    auto obj = std::dynamic_pointer_cast<morvane::devices::usbhardwaredev>(connected.at(0))->getUsbDevice();
    std::vector<unsigned char> data;
    struct Case {
        std::function<void()> call;
        devmgr_exception::ErrorCode code;
        const char* text;
    } cases[] = {
        {[&] { obj->sendBulkPacket(1, data, 10); }, devmgr_exception::ERR_IO,
         "Send Bulk packet is not supported for LibUSB HID devices"},
        {[&] { obj->receiveBulkPacket(0x81, data, 10); }, devmgr_exception::ERR_IO,
         "Receive Bulk packet is not supported for LibUSB HID devices"},
        {[&] { obj->controlPacket(0xC0, 1, 0, 0, data, 10); }, devmgr_exception::ERR_IO,
         "Control Packet is not supported for LibUSB HID devices"},
        {[&] { obj->setConfiguration(1); }, devmgr_exception::ERR_IO,
         "Set Configuration is not supported for LibUSB HID devices"},
        {[&] { obj->resetEndpoint(1); }, devmgr_exception::ERR_IO, "Reset Endpoint is not supported for LibUSB HID devices"},
        {[&] { obj->getCurrentInterface(); }, devmgr_exception::ERR_NOT_SUPPORTED,
         "this function not supposed to be called from this manager"},
    };
    for (auto& c : cases) {
        try {
            c.call();
            ADD_FAILURE() << "no exception for " << c.text;
        } catch (const devmgr_exception& e) {
            EXPECT_EQ(e.getErrorCode(), c.code);
            EXPECT_STREQ(e.what(), c.text);
        }
    }
    EXPECT_EQ(obj->getName(), "hidapi");
    EXPECT_EQ(obj->getDescription(), "");
    EXPECT_EQ(obj->getSpeed(), 0);
    EXPECT_EQ(obj->getEndpointMaxPacketSize(0x81), 64);
}

}  // namespace
