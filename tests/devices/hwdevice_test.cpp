#include "DeviceMgr/api/devmgr_exception.h"
#include "DeviceMgr/devices/usbhardwaredev.h"
#include "support/capture_sink.h"

#include <gtest/gtest.h>

#include <stdexcept>

using morvane::devicemgrapi::devmgr_exception;
using morvane::devicemgrapi::interface_base;
using morvane::devicemgrapi::interface_desc;
using morvane::devices::usbdevice;
using morvane::devices::usbhardwaredev;
using morvane::logger::logmgr;
using morvane::logger::logmsg;

namespace {

// A backend object that only counts opens and closes.
class fake_usbdevice : public usbdevice {
public:
    uint16_t getVID() const override { return 0x04B4; }
    uint16_t getPID() const override { return 0xF151; }
    int getCurrentInterface() override { return 0; }
    std::string getSerial() const override { return "S1"; }
    std::string getLocation() const override { return "1:2"; }
    std::string getProductStr() const override { return "P"; }
    std::string getManufacturerStr() const override { return "M"; }
    void open() override { m_open = true; }
    void close() override {
        ++closes;
        m_open = false;
        if (throwOnClose) throw devmgr_exception(devmgr_exception::ERR_IO, "close failed");
    }
    bool isOpen() const override { return m_open; }
    void sendBulkPacket(uint8_t, const std::vector<unsigned char>&, unsigned int) override {}
    void receiveBulkPacket(uint8_t, std::vector<unsigned char>&, unsigned int) override {}
    void controlPacket(uint8_t, uint8_t, uint16_t, uint16_t, std::vector<unsigned char>&, unsigned int) override {}
    void setConfiguration(uint8_t) override {}
    std::string getName() const override { return ""; }
    std::string getDescription() const override { return ""; }
    bool hasEndpoint(uint8_t) override { return false; }
    uint16_t getEndpointMaxPacketSize(uint8_t) const override { return 64; }
    int getSpeed() const override { return 0; }
    void resetEndpoint(uint8_t) override {}
    std::shared_ptr<morvane::devices::hiddevice> getHIDDevice() override { return nullptr; }

    int closes = 0;
    bool throwOnClose = false;

private:
    bool m_open = false;
};

// An interface that counts enable and disable and can fail on disable. Enabling and
// disabling go through the device, the way real bridges report it.
class counting_interface : public interface_base {
public:
    counting_interface(usbhardwaredev* dev, interface_desc desc, bool throwOnDisable = false)
        : interface_base(dev), m_dev(dev), m_desc(std::move(desc)), m_throw(throwOnDisable) {}
    const interface_desc& getInterfaceDescriptor() override { return m_desc; }
    void enable() override {
        ++enables;
        m_enabled = true;
        m_dev->enableBridgeInterface(this);
    }
    void disable() override {
        ++disables;
        m_enabled = false;
        if (m_throw) throw devmgr_exception(devmgr_exception::ERR_IO, "disable failed");
        m_dev->disableBridgeInterface(this);
    }
    bool isEnabled() override { return m_enabled; }

    int enables = 0;
    int disables = 0;

private:
    usbhardwaredev* m_dev;
    interface_desc m_desc;
    bool m_throw;
    bool m_enabled = false;
};

class test_device : public usbhardwaredev {
public:
    test_device(std::shared_ptr<usbdevice> dev, logmgr& log) : usbhardwaredev(std::move(dev), "Test Device", log) {}
    ~test_device() override { closeNoThrow(); }
    bool upgradeFirmware(const char*) override { return false; }
    bool isFirmwareUpgradePossible(const char*, bool) override { return false; }
    bool isFirmwareUpgradeRequired(const char*, bool) override { return false; }

    // Announces and, unless `store` is false, stores an interface.
    std::shared_ptr<counting_interface> add(interface_desc::InterfaceType type, const char* text, bool store = true,
                                            bool throwOnDisable = false) {
        interface_desc d(type, 0, text);
        m_interface_list.push_back(d);
        if (!store) return nullptr;
        auto i = std::make_shared<counting_interface>(this, d, throwOnDisable);
        addInterface(d, i);
        return i;
    }
    size_t storedCount() const { return m_interfaces.size(); }
};

class hwdevice_registry : public ::testing::Test {
protected:
    void SetUp() override {
        m_log.setSink(logmsg::msgtype::Error, m_sink);
        m_log.setLevel(logmsg::msgtype::Error, 10);
    }
    logmgr m_log;
    std::shared_ptr<pavix_test::capture_sink> m_sink = std::make_shared<pavix_test::capture_sink>();
    std::shared_ptr<fake_usbdevice> m_usb = std::make_shared<fake_usbdevice>();
    std::unique_ptr<test_device> m_dev = std::make_unique<test_device>(m_usb, m_log);
};

TEST_F(hwdevice_registry, AnnouncedButNeverStoredGivesEmptyPointerWithoutAnEntry) {
    m_dev->add(interface_desc::IF_SWD, "SWD", false);
    EXPECT_EQ(m_dev->getInterface(interface_desc(interface_desc::IF_SWD, 0, "other text")), nullptr);
    EXPECT_EQ(m_dev->storedCount(), 0u);
    // Close and destruction walk the map: nothing empty may be left in it.
    EXPECT_NO_THROW(m_dev->close());
    m_dev.reset();
}

TEST_F(hwdevice_registry, UnannouncedInterfaceIsAnError) {
    auto stored = std::make_shared<counting_interface>(m_dev.get(), interface_desc(interface_desc::IF_USB, 0, "usb"));
    m_dev->addInterface(interface_desc(interface_desc::IF_USB, 0, "usb"), stored);  // stored, not announced
    try {
        m_dev->getInterface(interface_desc(interface_desc::IF_USB, 0, nullptr));
        FAIL();
    } catch (const devmgr_exception& e) {
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_NO_INTERFACE);
        EXPECT_STREQ(e.what(), "Requesting an interface that does not exist on this device");
    }
}

TEST_F(hwdevice_registry, LookupIgnoresDescriptionAndAddReplaces) {
    auto first = m_dev->add(interface_desc::IF_I2C_SPI, "I2C SPI");
    auto second = std::make_shared<counting_interface>(m_dev.get(), interface_desc(interface_desc::IF_I2C_SPI, 0, "x"));
    m_dev->addInterface(interface_desc(interface_desc::IF_I2C_SPI, 0, "replacement"), second);
    EXPECT_EQ(m_dev->getInterface(interface_desc(interface_desc::IF_I2C_SPI, 0, "anything")), second);
    EXPECT_EQ(m_dev->storedCount(), 1u);
    EXPECT_EQ(m_dev->getInterfaceByType<counting_interface>(interface_desc::IF_I2C_SPI, 0), second);
    EXPECT_EQ(m_dev->getInterfaceByType<counting_interface>(interface_desc::IF_UART, 0), nullptr);
    EXPECT_EQ(m_dev->numberOfInterfaces(interface_desc::IF_I2C_SPI), 1u);
    EXPECT_EQ(m_dev->numberOfInterfaces(interface_desc::IF_USB), 0u);
    EXPECT_TRUE(m_dev->hasInterface(interface_desc::IF_I2C_SPI, 0));
    EXPECT_FALSE(m_dev->hasInterface(interface_desc::IF_I2C_SPI, 1));
}

TEST_F(hwdevice_registry, CloseDisablesEachEnabledInterfaceExactlyOnce) {
    auto usb = m_dev->add(interface_desc::IF_USB, "USB");
    auto i2c = m_dev->add(interface_desc::IF_I2C_SPI, "I2C");
    auto idle = m_dev->add(interface_desc::IF_POWER_MONITOR, "Power");
    int disabledSignals = 0;
    usb->getDisabledSignal().connect([&](interface_base* i) {
        EXPECT_EQ(i, usb.get());
        ++disabledSignals;
    });
    m_dev->open();
    usb->enable();
    usb->enable();  // enabling twice still means one disable
    i2c->enable();
    m_dev->close();
    EXPECT_EQ(usb->disables, 1);
    EXPECT_EQ(i2c->disables, 1);
    EXPECT_EQ(idle->disables, 0);
    EXPECT_EQ(disabledSignals, 1);
    EXPECT_EQ(m_dev->storedCount(), 0u);
    EXPECT_EQ(m_dev->getInterfaceDescriptorList().size(), 3u);
    EXPECT_EQ(m_usb->closes, 1);
    EXPECT_FALSE(m_dev->isOpen());
}

TEST_F(hwdevice_registry, ThrowingDisableNeitherStopsCloseNorLeavesIt) {
    auto power = m_dev->add(interface_desc::IF_POWER_CONTROL, "Power", true, /*throwOnDisable=*/true);
    auto usb = m_dev->add(interface_desc::IF_USB, "USB");
    power->enable();
    usb->enable();
    EXPECT_NO_THROW(m_dev->close());
    EXPECT_EQ(power->disables, 1);
    EXPECT_EQ(usb->disables, 1);  // after the failing one in key order
    EXPECT_EQ(m_usb->closes, 1);
    EXPECT_EQ(m_dev->storedCount(), 0u);
    EXPECT_TRUE(m_sink->contains("Error =  disable failed"));
}

TEST_F(hwdevice_registry, DestructorSurvivesFailingCloseAndDisable) {
    auto power = m_dev->add(interface_desc::IF_POWER_CONTROL, "Power", true, true);
    power->enable();
    m_usb->throwOnClose = true;
    m_dev.reset();  // must not terminate
    EXPECT_EQ(m_usb->closes, 1);
    EXPECT_TRUE(m_sink->contains("Error =  close failed"));
}

TEST_F(hwdevice_registry, ModeSwitchIsNotSupportedAndIdentityComesFromTheBackend) {
    try {
        m_dev->modeSwitch(1);
        FAIL();
    } catch (const devmgr_exception& e) {
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_NOT_SUPPORTED);
        EXPECT_STREQ(e.what(), "modeSwitch is not supported by this device");
    }
    EXPECT_EQ(m_dev->getVID(), 0x04B4);
    EXPECT_EQ(m_dev->getPID(), 0xF151);
    EXPECT_EQ(m_dev->getDescription(), "Test Device");
}

}  // namespace
