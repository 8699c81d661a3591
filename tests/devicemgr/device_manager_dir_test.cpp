#include "DeviceMgr/api/devmgr_exception.h"
#include "DeviceMgr/device_manager_dir.h"
#include "Platform/platform.h"
#include "support/capture_sink.h"
#include "support/fake_hardware.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

using morvane::devicemgrapi::devmgr_exception;
using morvane::devices::backend_factory;
using morvane::devices::device_manager_dir;
using morvane::logger::logmgr;
using T = morvane::logger::logmsg::msgtype;
using pavix_test::fake_detector;
using pavix_test::fake_manager;

namespace {

std::map<std::string, std::string> baseProps() {
    return {{"supported_devices", "0x00000000"}, {"hid_access_mode", "default"}};
}

// Installs fake managers (registered in the real order and names) and a fake detector.
struct DirFixture : ::testing::Test {
    logmgr log;
    std::shared_ptr<pavix_test::capture_sink> sink = std::make_shared<pavix_test::capture_sink>();
    std::shared_ptr<fake_manager> usb, hid, serial;
    std::shared_ptr<fake_detector> detector = std::make_shared<fake_detector>();

    void SetUp() override {
        for (T t : {T::Info, T::Warning, T::Error}) log.setSink(t, sink);
        usb = std::make_shared<fake_manager>(log, device_manager_dir::ID_LIBUSB_MGR);
        hid = std::make_shared<fake_manager>(log, device_manager_dir::ID_HIDAPI_MGR);
        serial = std::make_shared<fake_manager>(log, device_manager_dir::ID_SERIAL_MGR);
        backend_factory f;
        f.createManagers = [this](device_manager_dir& dir, logmgr&, const auto&, std::recursive_mutex&) {
            dir.connectHardwareManager("jlink", usb);
            dir.connectHardwareManager("hidapi", hid);
            dir.connectHardwareManager("serial", serial);
        };
        f.createDetector = [this](logmgr&) { return detector; };
        device_manager_dir::setBackendFactory(f);
    }
    void TearDown() override { device_manager_dir::resetBackendFactory(); }

    std::shared_ptr<device_manager_dir> make() {
        auto props = baseProps();
        return device_manager_dir::create("transport_lib", log, props);
    }
};

struct PropCase {
    std::map<std::string, std::string> extra;
    const char* error;  // null: accepted
};

class DirProperties : public ::testing::TestWithParam<PropCase> {};

TEST_P(DirProperties, ValidationTexts) {
    pavix_test::scoped_backends none;
    logmgr log;
    auto props = baseProps();
    for (const auto& kv : GetParam().extra) props.insert(kv);
    if (!GetParam().error) {
        auto dir = device_manager_dir::create("transport_lib", log, props);
        // The two required keys are consumed from the caller's map.
        EXPECT_EQ(props.count("supported_devices"), 0u);
        EXPECT_EQ(props.count("hid_access_mode"), 0u);
        EXPECT_EQ(dir->params()->get("supported_devices"), "0x00000000");
        return;
    }
    try {
        device_manager_dir::create("transport_lib", log, props);
        FAIL() << "accepted";
    } catch (const devmgr_exception& e) {
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_INVALID_ARGUMENT);
        EXPECT_STREQ(e.what(), GetParam().error);
    }
}

const char* kBadKey =
    "Invalid device manager property provided!\nAllowed properties: 'nojlink' 'nolibusb' 'noserial' 'novxusb'";
const char* kBadValue = "Invalid device manager property value provided!";

INSTANTIATE_TEST_SUITE_P(Table, DirProperties,
                         ::testing::Values(PropCase{{}, nullptr},
                                           PropCase{{{"nojlink", "true"}}, nullptr},
                                           PropCase{{{"noserial", "false"}, {"novxusb", "true"}}, nullptr},
                                           PropCase{{{"nojlink", "yes"}}, kBadValue},
                                           PropCase{{{"nojlink", "TRUE"}}, kBadValue},
                                           PropCase{{{"quick_start", "true"}}, kBadKey},
                                           PropCase{{{"", "true"}}, kBadKey}));

TEST_F(DirFixture, NoManagersPublishesEmptyList) {
    device_manager_dir::setBackendFactory(backend_factory());
    auto dir = make();
    dir->initialize();
    std::list<std::shared_ptr<morvane::devicemgrapi::hardware_device_api>> out;
    dir->getConnectedProgrammingDevices(out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(dir->getDeviceByHardwareID("anything"), nullptr);
}

TEST_F(DirFixture, InitializeStartsDetectorThenScansManagersInOrder) {
    usb->bus = {"usb-a"};
    hid->bus = {"hid-a", "hid-b"};
    serial->bus = {"tty-a"};
    auto dir = make();
    std::vector<std::string> seen;
    dir->getHardwareConnectedSignal().connect([&](auto d) {
        EXPECT_TRUE(dir->isInitializing());
        seen.push_back(d->getHardwareID());
    });
    EXPECT_FALSE(dir->isInitializing());
    dir->initialize();
    EXPECT_FALSE(dir->isInitializing());
    EXPECT_EQ(detector->started, 1);
    EXPECT_EQ(seen, (std::vector<std::string>{"usb-a", "hid-a", "hid-b", "tty-a"}));
    EXPECT_EQ(dir->connectNotice().ids(), seen);

    std::list<std::shared_ptr<morvane::devicemgrapi::hardware_device_api>> out;
    out.push_back(std::make_shared<pavix_test::fake_device>("already-there"));
    dir->getConnectedProgrammingDevices(out);
    ASSERT_EQ(out.size(), 5u);  // appends, grouped by manager
    EXPECT_EQ(out.front()->getHardwareID(), "already-there");
    EXPECT_EQ(out.back()->getHardwareID(), "tty-a");
}

TEST_F(DirFixture, HotPlugRescanFansEventsIn) {
    auto dir = make();
    dir->initialize();
    int connected = 0, disconnected = 0;
    dir->getHardwareConnectedSignal().connect([&](auto) { ++connected; });
    dir->getHardwareDisconnectedSignal().connect([&](auto) { ++disconnected; });
    hid->bus = {"probe"};
    detector->fire();
    EXPECT_EQ(connected, 1);
    detector->fire();  // unchanged bus: no event
    EXPECT_EQ(connected, 1);
    hid->bus.clear();
    detector->fire();
    EXPECT_EQ(disconnected, 1);
    EXPECT_EQ(usb->scans, 3);
    EXPECT_EQ(serial->scans, 3);
}

TEST_F(DirFixture, LookupIgnoresCaseButNeverMatchesPrefix) {
    hid->bus = {"Tallvex3-ABC123", "J-Link-\xC3\x84\xC3\xB6"};
    auto dir = make();
    dir->initialize();
    ASSERT_NE(dir->getDeviceByHardwareID("tallvex3-abc123"), nullptr);
    EXPECT_EQ(dir->getDeviceByHardwareID("TALLVEX3-ABC123")->getHardwareID(), "Tallvex3-ABC123");
    EXPECT_EQ(dir->getDeviceByHardwareID("Tallvex3-ABC12"), nullptr);
    EXPECT_EQ(dir->getDeviceByHardwareID("Tallvex3-ABC1234"), nullptr);
    // Bytes above 0x7F are compared as they are (and must not trip the case mapping).
    EXPECT_NE(dir->getDeviceByHardwareID("j-link-\xC3\x84\xC3\xB6"), nullptr);
}

TEST_F(DirFixture, ManagerStartFailureIsLoggedAndPropagated) {
    hid->onStart = [] { throw devmgr_exception(devmgr_exception::ERR_LIBRARY_INIT, "no bus"); };
    auto dir = make();
    EXPECT_THROW(dir->initialize(), devmgr_exception);
    EXPECT_FALSE(dir->isInitializing());
    EXPECT_EQ(usb->starts, 1);
    EXPECT_EQ(serial->starts, 0);  // managers after the failing one are not started
    EXPECT_TRUE(sink->contains("Warning: Cannot initialize hardware manager 'hidapi' - no bus\r\n"));
}

TEST_F(DirFixture, DestructionStopsEveryManagerEvenWhenOneThrows) {
    {
        auto dir = make();
        dir->initialize();
        dir->shutdown();
        EXPECT_EQ(hid->stops, 1);
        usb->onStop = [] { throw devmgr_exception(devmgr_exception::ERR_IO, "stuck"); };
    }
    EXPECT_EQ(usb->stops, 2);
    EXPECT_EQ(hid->stops, 2);
    EXPECT_EQ(serial->stops, 2);
    EXPECT_TRUE(sink->contains("Error: Destroy device_manager_dir failed - stuck\r\n"));
    // The managers no longer feed a destroyed directory.
    hid->bus = {"late"};
    hid->lookForDeviceChange();
}

TEST_F(DirFixture, DetectorIsStoppedAndReleasedBeforeManagersStop) {
    std::vector<std::string> order;
    detector->onStop = [&] { order.push_back("detector"); };
    usb->onStop = [&] { order.push_back("usb"); };
    std::weak_ptr<fake_detector> weak = detector;
    bool detectorAliveAtStop = true;
    hid->onStop = [&] { detectorAliveAtStop = !weak.expired(); };
    {
        auto dir = make();
        dir->initialize();
        detector.reset();
    }
    EXPECT_EQ(order, (std::vector<std::string>{"detector", "usb"}));
    EXPECT_FALSE(detectorAliveAtStop);
}

TEST(DirFirmwareDirectory, DefaultIsFirmwareBesideTheExecutable) {
    pavix_test::scoped_backends none;
    logmgr log;
    auto props = baseProps();
    auto dir = device_manager_dir::create("transport_lib", log, props);
    const std::string first = dir->getFWDirectory();
    EXPECT_EQ(boost::filesystem::path(first).filename().string(), "firmware");
    EXPECT_EQ(boost::filesystem::path(first).parent_path(),
              boost::filesystem::path(morvane::platform::platform::getExeFile()).parent_path());
    EXPECT_EQ(dir->getFWDirectory(), first);
    EXPECT_EQ(device_manager_dir::getFWDir(), first);
}

TEST(DirFirmwareDirectory, PresetIsUsedUnchanged) {
    pavix_test::scoped_backends none;
    device_manager_dir::setBaseDirPath("/opt/probes/data/");
    logmgr log;
    auto props = baseProps();
    auto dir = device_manager_dir::create("transport_lib", log, props);
    EXPECT_EQ(dir->getFWDirectory(), "/opt/probes/data/");
}

TEST(DirUnavailable, UpgradeAndModeSwitchAreNotSupportedYet) {
    pavix_test::scoped_backends none;
    logmgr log;
    auto props = baseProps();
    auto dir = device_manager_dir::create("transport_lib", log, props);
    try {
        dir->upgradeFirmware("x", "y");
        FAIL();
    } catch (const devmgr_exception& e) {
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_NOT_SUPPORTED);
    }
    EXPECT_THROW(dir->modeSwitch("x", 1), devmgr_exception);
}

}  // namespace
