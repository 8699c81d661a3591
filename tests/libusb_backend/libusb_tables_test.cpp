// The libusb backend's fixed tables, without a bus: result-code mapping, the J-Link product
// ranges, the location text, the family filter and the ad-hoc J-Link configuration.
#include "DeviceMgr/backends/libusb_devicemgr.h"
#include "DeviceMgr/backends/libusb_deviceobj.h"
#include "DeviceMgr/database/devicedb_device.h"
#include "DeviceMgr/device_manager_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using morvane::devicemgrapi::devmgr_exception;
using morvane::devices::device_manager_dir;
using morvane::devices::libusb_devicemgr;
using morvane::devices::libusb_deviceobj;
using morvane::devices::param_db;

namespace {

using E = devmgr_exception;

struct TransferRow {
    int result;
    E::ErrorCode sendCode;
    const char* sendText;
    E::ErrorCode receiveCode;
    const char* receiveText;
};

const TransferRow kBulkRows[] = {
    {LIBUSB_ERROR_PIPE, E::ERR_PIPE, "Endpoint has halted", E::ERR_PIPE, "Endpoint has halted"},
    {LIBUSB_ERROR_OVERFLOW, E::ERR_OVERFLOW, "Endpoint data overflowed", E::ERR_OVERFLOW, "Endpoint data overflowed"},
    {LIBUSB_ERROR_TIMEOUT, E::ERR_TIMEOUT, "Timeout sending bulk packet", E::ERR_TIMEOUT,
     "Timeout in receiveBuildPacket()"},
    {LIBUSB_ERROR_NOT_FOUND, E::ERR_NOT_FOUND, "Device is no longer connected", E::ERR_NO_DEVICE, "Entity not found"},
    {LIBUSB_ERROR_NO_DEVICE, E::ERR_NO_DEVICE, "Device is no longer connected", E::ERR_NO_DEVICE,
     "Device is no longer connected"},
    {LIBUSB_ERROR_IO, E::ERR_IO, "I/O error during sendBulkPacket() request", E::ERR_IO,
     "I/O error during receiveBuildPacket() request"},
    {LIBUSB_ERROR_INVALID_PARAM, E::ERR_OTHER_USB, "Unknonwn error", E::ERR_OTHER_USB, "Unknonwn error"},
    {LIBUSB_ERROR_BUSY, E::ERR_OTHER_USB, "Unknonwn error", E::ERR_OTHER_USB, "Unknonwn error"},
    {LIBUSB_ERROR_OTHER, E::ERR_OTHER_USB, "Unknonwn error", E::ERR_OTHER_USB, "Unknonwn error"},
};

TEST(LibusbResultCodes, BulkTransferFailuresMapToFixedCodesAndTexts) {
    for (const auto& r : kBulkRows) {
        SCOPED_TRACE(r.result);
        const auto send = libusb_deviceobj::bulkTransferError(true, r.result);
        EXPECT_EQ(send.getErrorCode(), r.sendCode);
        EXPECT_STREQ(send.what(), r.sendText);
        const auto receive = libusb_deviceobj::bulkTransferError(false, r.result);
        EXPECT_EQ(receive.getErrorCode(), r.receiveCode);
        EXPECT_STREQ(receive.what(), r.receiveText);
    }
}

TEST(LibusbResultCodes, ControlTransferFailuresMapToFixedCodesAndTexts) {
    const struct {
        int result;
        E::ErrorCode code;
        const char* text;
    } rows[] = {
        {LIBUSB_ERROR_PIPE, E::ERR_PIPE, "Endpoint has halted - cannot send control packet"},
        {LIBUSB_ERROR_TIMEOUT, E::ERR_TIMEOUT, "Timeout sending control packet"},
        {LIBUSB_ERROR_NO_DEVICE, E::ERR_NO_DEVICE, "Device is no longer connected - cannot send control packet"},
        {LIBUSB_ERROR_IO, E::ERR_IO, "I/O error during control packet request"},
        {LIBUSB_ERROR_OVERFLOW, E::ERR_OTHER_USB, "Unknown error in controlPacket request"},
        {LIBUSB_ERROR_NOT_FOUND, E::ERR_OTHER_USB, "Unknown error in controlPacket request"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.result);
        const auto e = libusb_deviceobj::controlTransferError(r.result);
        EXPECT_EQ(e.getErrorCode(), r.code);
        EXPECT_STREQ(e.what(), r.text);
    }
}

TEST(LibusbJLinkRange, BoundariesOfBothProductRanges) {
    const struct {
        uint16_t vid, pid;
        bool jlink;
    } rows[] = {
        {0x1366, 0x0100, false}, {0x1366, 0x0101, true}, {0x1366, 0x0108, true},  {0x1366, 0x0109, false},
        {0x1366, 0x1000, false}, {0x1366, 0x1001, true}, {0x1366, 0x102F, true},  {0x1366, 0x1030, false},
        {0x1367, 0x0101, false}, {0x1365, 0x1001, false}, {0x04B4, 0x0105, false},
    };
    for (const auto& r : rows) {
        libusb_device_descriptor d{};
        d.idVendor = r.vid;
        d.idProduct = r.pid;
        EXPECT_EQ(libusb_devicemgr::isJlink(d), r.jlink) << std::hex << r.vid << ":" << r.pid;
    }
}

TEST(LibusbLocation, BusThenPortPathAndOnlyTheBusWhenThePathIsTooDeep) {
    const uint8_t ports[] = {2, 4, 11};
    EXPECT_EQ(libusb_devicemgr::formatLocation(3, ports, 2), "3:2,4");
    EXPECT_EQ(libusb_devicemgr::formatLocation(3, ports, 3), "3:2,4,11");
    EXPECT_EQ(libusb_devicemgr::formatLocation(255, ports, 1), "255:2");
    EXPECT_EQ(libusb_devicemgr::formatLocation(1, ports, 0), "1:");
    EXPECT_EQ(libusb_devicemgr::formatLocation(1, ports, LIBUSB_ERROR_OVERFLOW), "1:");
}

TEST(LibusbJLinkConfig, TheAdHocRecordLivesAsLongAsItsConfiguration) {
    auto config = libusb_devicemgr::makeJLinkConfig(0x1366, 0x1015);
    // Nothing but the configuration holds the record now.
    ASSERT_NE(config->getDevice(), nullptr);
    EXPECT_EQ(config->getDevice()->getName(), "JLink");
    EXPECT_EQ(config->getDeviceName(), "JLink");
    EXPECT_EQ(config->getName(), "JLink");
    EXPECT_EQ(config->getShortName(), "JLink");
    EXPECT_EQ(config->getProtocol(), "bulk");
    EXPECT_EQ(config->getVID(), 0x1366);
    EXPECT_EQ(config->getPID(), 0x1015);
    EXPECT_EQ(config->getInterface(), 0);
    EXPECT_EQ(config->getPlatformId(), 0);
    EXPECT_TRUE(config->getProps().empty());
    auto copy = config;
    config.reset();
    EXPECT_EQ(copy->getDevice()->getName(), "JLink");
}

// Which bulk interfaces pass the family filter for each supported-devices text.
struct FilterRow {
    const char* supported;
    bool jlink, tl3Cmsis, tl3Bridge, nb4Bridge, dapLink, wifi, wifiCmsis, otherTl3Iface;
};

class LibusbFamilyFilter : public ::testing::TestWithParam<FilterRow> {};

TEST_P(LibusbFamilyFilter, Matrix) {
    const FilterRow r = GetParam();
    morvane::logger::logmgr log;
    std::recursive_mutex scan;
    auto store = std::make_shared<param_db>();
    store->set("supported_devices", r.supported);
    libusb_devicemgr mgr(log, device_manager_dir::ID_LIBUSB_MGR, store, scan);
    EXPECT_EQ(mgr.jlinkAllowed(), r.jlink);
    EXPECT_EQ(mgr.interfaceAllowed("Tallvex3 CMSIS-DAP BULK", "Tallvex3", "Tallvex3 CMSIS-DAP"), r.tl3Cmsis);
    // The interface text is compared in any letter case.
    EXPECT_EQ(mgr.interfaceAllowed("Tallvex3", "Tallvex3", "TALLVEX3 Bridge"), r.tl3Bridge);
    EXPECT_EQ(mgr.interfaceAllowed("Nimbrel4", "Nimbrel4", "nimbrel4 BRIDGE"), r.nb4Bridge);
    EXPECT_EQ(mgr.interfaceAllowed("CMSIS-DAP v2", "DAPLink", "CMSIS-DAP v2"), r.dapLink);
    EXPECT_EQ(mgr.interfaceAllowed("Selvo WiFi", "Selvo WiFi", "WiFi"), r.wifi);
    EXPECT_EQ(mgr.interfaceAllowed("Selvo WiFi CMSIS-DAP", "Selvo WiFi", "x"), r.wifiCmsis);
    // A third-generation interface whose text names no bridge is not the bridge family.
    EXPECT_EQ(mgr.interfaceAllowed("Tallvex3", "Tallvex3", "Vendor Interface"), r.otherTl3Iface);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LibusbFamilyFilter,
    ::testing::Values(
        //         supported                 jlink  3CD    3br    4br    dap    wifi   wifiCD other
        FilterRow{"0x00000000", true, true, true, true, true, true, true, true},
        FilterRow{"0x00000001 ", false, true, false, false, true, false, false, true},
        FilterRow{"0x00000002 ", false, false, true, true, false, false, false, true},
        FilterRow{"0x00000008 ", false, false, true, true, false, false, false, true},
        FilterRow{"0x00000020 ", true, false, false, false, false, false, false, true},
        FilterRow{"0x00000040 ", false, false, false, false, false, true, false, true},
        FilterRow{"0x00000001 0x00000040 ", false, true, false, false, true, true, true, true},
        FilterRow{"0x00000004 0x00000010 ", false, false, false, false, false, false, false, true},
        FilterRow{"", false, false, false, false, false, false, false, true}));

}  // namespace
