#include "DeviceMgr/backends/hidapi_devicemgr.h"
#include "DeviceMgr/device_manager_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using morvane::devices::device_manager_dir;
using morvane::devices::hidapi_devicemgr;
using morvane::devices::param_db;

namespace {

// Which configuration names of the shipped database pass the HID family filter for each
// supported-devices text. Columns: CMSIS-DAP HID, third-generation bridge, sibling bridge,
// second-generation bridge, second-generation CMSIS-DAP, bootloader.
struct FilterRow {
    const char* supported;
    bool tl3Cmsis, tl3, nb4, tl2, tl2Cmsis, boot;
};

class HidFamilyFilter : public ::testing::TestWithParam<FilterRow> {};

TEST_P(HidFamilyFilter, Matrix) {
    const FilterRow r = GetParam();
    morvane::logger::logmgr log;
    std::recursive_mutex scan;
    auto store = std::make_shared<param_db>();
    store->set("supported_devices", r.supported);
    hidapi_devicemgr mgr(log, device_manager_dir::ID_HIDAPI_MGR, store, scan);
    EXPECT_EQ(mgr.familyAllowed("Tallvex3 CMSIS-DAP HID"), r.tl3Cmsis);
    EXPECT_EQ(mgr.familyAllowed("Tallvex3"), r.tl3);
    EXPECT_EQ(mgr.familyAllowed("Nimbrel4"), r.nb4);
    EXPECT_EQ(mgr.familyAllowed("Tallvex2"), r.tl2);
    EXPECT_EQ(mgr.familyAllowed("Tallvex2 CMSIS-DAP HID"), r.tl2Cmsis);
    EXPECT_EQ(mgr.familyAllowed("Tallvex Bootloader"), r.boot);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HidFamilyFilter,
    ::testing::Values(
        //          supported                             3CD    3     4     2     2CD    boot
        FilterRow{"0x00000000", true, true, true, true, true, true},
        FilterRow{"0x00000001 ", true, false, false, false, true, true},
        FilterRow{"0x00000002 ", false, true, true, true, false, true},  // both generations, no CMSIS-DAP
        FilterRow{"0x00000004 ", false, false, false, true, false, true},
        FilterRow{"0x00000008 0x00000010 ", false, true, true, false, false, true},
        FilterRow{"0x00000001 0x00000008 ", true, true, true, false, true, true},
        FilterRow{"0x00000010 0x00000020 ", false, false, false, false, false, true},
        // A code must match whole: 0x00000001 is not found inside 0x00000010.
        FilterRow{"0x00000010 ", false, false, false, false, false, true},
        FilterRow{"", false, false, false, false, false, true}));

TEST(HidFamilyFilter, NameWithBothGenerationsNeedsBoth) {
    morvane::logger::logmgr log;
    std::recursive_mutex scan;
    auto store = std::make_shared<param_db>();
    store->set("supported_devices", "0x00000008 ");
    hidapi_devicemgr mgr(log, device_manager_dir::ID_HIDAPI_MGR, store, scan);
    EXPECT_FALSE(mgr.familyAllowed("Tallvex3 Tallvex2 combo"));
    store->set("supported_devices", "0x00000004 0x00000008 ");
    hidapi_devicemgr both(log, device_manager_dir::ID_HIDAPI_MGR, store, scan);
    EXPECT_TRUE(both.familyAllowed("Tallvex3 Tallvex2 combo"));
}

}  // namespace
