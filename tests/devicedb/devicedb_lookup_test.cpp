#include "devicedb/devicedb_test_util.h"

#include <gtest/gtest.h>

using morvane::devices::devicedb;
using namespace pavix_test;

namespace {

// Several configurations share VID 1234 and PID 0001 and differ in protocol and interface;
// a second device repeats one of them to show that document order decides.
class devicedb_lookup : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string xml = dbXml(
            "<device name=\"Alpha\">"
            "<configuration name=\"hid0\" vid=\"1234\" pid=\"0001\" protocol=\"hid\" interface=\"0\"/>"
            "<configuration name=\"hid2\" vid=\"1234\" pid=\"0001\" protocol=\"hid\" interface=\"2\"/>"
            "<configuration name=\"bulk1\" vid=\"1234\" pid=\"0001\" protocol=\"bulk\" interface=\"1\"/>"
            "<configuration name=\"upper\" vid=\"1234\" pid=\"0002\" protocol=\"HID\" interface=\"0\"/>"
            "<configuration name=\"ser1\" vid=\"1234\" pid=\"0003\" protocol=\"serial\" platform_id=\"1\"/>"
            "<configuration name=\"ser2\" vid=\"1234\" pid=\"0003\" protocol=\"serial\" platform_id=\"2\"/>"
            "</device>"
            "<device name=\"Beta\">"
            "<configuration name=\"beta-hid2\" vid=\"1234\" pid=\"0001\" protocol=\"hid\" interface=\"2\"/>"
            "<configuration name=\"beta-hid-ffff\" vid=\"1234\" pid=\"0004\" protocol=\"hid\" interface=\"FFFF\"/>"
            "<configuration name=\"beta-bulk\" vid=\"1234\" pid=\"0004\" protocol=\"bulk\" interface=\"FFFF\"/>"
            "</device>");
        m_db = std::make_unique<devicedb>(m_log.log, m_dir.write("devdb.xml", xml), shippedSchema());
    }
    static std::string nameOf(const devicedb::config_ptr& c) { return c ? c->getName() : "<none>"; }

    temp_dir m_dir;
    captured_log m_log;
    std::unique_ptr<devicedb> m_db;
};

TEST_F(devicedb_lookup, HidInterfaceWildcardTakesTheFirstInDocumentOrder) {
    EXPECT_EQ(nameOf(m_db->getHIDConfig(0x1234, 1, 0xFFFF)), "hid0");
    EXPECT_EQ(nameOf(m_db->getHIDConfig(0x1234, 1, 0)), "hid0");
    EXPECT_EQ(nameOf(m_db->getHIDConfig(0x1234, 1, 2)), "hid2");  // not Beta's later copy
    EXPECT_EQ(nameOf(m_db->getHIDConfig(0x1234, 1, 1)), "<none>");  // interface 1 is bulk
    EXPECT_EQ(m_db->getHIDConfig(0x1234, 1, 2)->getDeviceName(), "Alpha");
}

TEST_F(devicedb_lookup, BulkLookupsHaveNoWildcard) {
    EXPECT_EQ(nameOf(m_db->getBulkConfig(0x1234, 1)), "bulk1");
    EXPECT_EQ(nameOf(m_db->getBulkConfigEx(0x1234, 1, 1)), "bulk1");
    EXPECT_EQ(nameOf(m_db->getBulkConfigEx(0x1234, 1, 0)), "<none>");
    EXPECT_EQ(nameOf(m_db->getBulkConfigEx(0x1234, 1, -1)), "<none>");
    EXPECT_EQ(nameOf(m_db->getBulkConfigEx(0x1234, 1, 0xFFFF)), "<none>");
    // A configured interface FFFF is an ordinary number for bulk, found only by asking for it.
    EXPECT_EQ(nameOf(m_db->getBulkConfigEx(0x1234, 4, 0xFFFF)), "beta-bulk");
    EXPECT_EQ(nameOf(m_db->getBulkConfigEx(0x1234, 4, -1)), "<none>");
}

TEST_F(devicedb_lookup, ProtocolIsCaseSensitive) {
    EXPECT_EQ(nameOf(m_db->getHIDConfig(0x1234, 2, 0xFFFF)), "<none>");
    EXPECT_EQ(nameOf(m_db->getBulkConfig(0x1234, 2)), "<none>");
    EXPECT_EQ(nameOf(m_db->getSerialConfig(0x1234, 2)), "<none>");
}

TEST_F(devicedb_lookup, SerialLookupsByPlatformId) {
    EXPECT_EQ(nameOf(m_db->getSerialConfig(0x1234, 3)), "ser1");
    EXPECT_EQ(nameOf(m_db->getSerialConfigWithPlatfId(0x1234, 3, 2)), "ser2");
    EXPECT_EQ(nameOf(m_db->getSerialConfigWithPlatfId(0x1234, 3, 3)), "<none>");
    // Serial configurations are invisible to the USB lookups and the other way round.
    EXPECT_EQ(nameOf(m_db->getHIDConfig(0x1234, 3, 0xFFFF)), "<none>");
    EXPECT_EQ(nameOf(m_db->getSerialConfig(0x1234, 1)), "<none>");
}

TEST_F(devicedb_lookup, DeviceLevelLookupsWithPlatformId) {
    const auto& alpha = m_db->getDevices().front();
    EXPECT_EQ(nameOf(alpha->getSerialByVidPidPlatfid(0x1234, 3, 1)), "ser1");
    EXPECT_EQ(nameOf(alpha->getHidByVidPidIfsPlatfid(0x1234, 1, 0xFFFF, 0)), "hid0");
    EXPECT_EQ(nameOf(alpha->getHidByVidPidIfsPlatfid(0x1234, 1, 0xFFFF, 1)), "<none>");
    EXPECT_EQ(nameOf(alpha->getBulkByVidPidPlatfid(0x1234, 1, 0)), "bulk1");
    EXPECT_EQ(alpha->getConfigs().front()->getDevice(), alpha.get());
}

TEST(devicedb_config_record, MissingPropertyReadsEmptyAndOutlivesItsRecord) {
    std::shared_ptr<morvane::devices::devicedb_config> config;
    {
        morvane::devices::devicedb_device record("Serial");
        config = std::make_shared<morvane::devices::devicedb_config>(&record, "Serial", "Serial", 1, 2, "serial", 0, 0);
        record.addConfig(config);
    }
    EXPECT_EQ(config->getPropertyValue("fw_upgrade"), "");
    EXPECT_FALSE(config->hasProperty("fw_upgrade"));
    EXPECT_EQ(config->getDeviceName(), "Serial");
}

}  // namespace
