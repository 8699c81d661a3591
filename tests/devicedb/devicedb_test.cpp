#include "devicedb/devicedb_test_util.h"

#include "DeviceMgr/api/devmgr_exception.h"

#include <gtest/gtest.h>

#include <functional>

using morvane::devicemgrapi::devmgr_exception;
using morvane::devices::devicedb;
using namespace pavix_test;

namespace {

const std::string kGood =
    "<device name=\"Good\"><configuration name=\"G\" vid=\"1234\" pid=\"0001\" protocol=\"hid\" interface=\"0\"/></device>";

std::string oneConfig(const std::string& attrs) {
    return "<device name=\"D\"><configuration name=\"C\" " + attrs + "/></device>";
}

enum class file_setup { both, no_schema, no_xml };

struct load_case {
    const char* name = "";
    std::string xml;
    // Empty: the load succeeds. Otherwise the exact text (or, with `prefixOnly`, its start).
    std::string error;
    devmgr_exception::ErrorCode code = devmgr_exception::ERR_DATABASE;
    bool prefixOnly = false;
    file_setup files = file_setup::both;
    // Checks on a loaded database; may inspect the log lines.
    std::function<void(const devicedb&, const capture_sink&)> check;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const load_case& c, std::ostream* os) { *os << c.name; }

using check_fn = std::function<void(const devicedb&, const capture_sink&)>;

load_case loads(const char* name, std::string xml, check_fn check) {
    load_case c;
    c.name = name;
    c.xml = std::move(xml);
    c.check = std::move(check);
    return c;
}

load_case fails(const char* name, std::string xml, std::string error, file_setup files = file_setup::both,
                bool prefixOnly = false) {
    load_case c;
    c.name = name;
    c.xml = std::move(xml);
    c.error = std::move(error);
    c.files = files;
    c.prefixOnly = prefixOnly;
    return c;
}

std::string longText(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>('a' + i % 26);
    return s;
}

// The XML path placeholder "@XML@" in an expected text stands for the path as given.
std::vector<load_case> loadCases() {
    const std::string hexError = "Invalid VID or PID in device, expected 16 bit hex number";
    const std::string rangeError = "Invalid VID or PID in device, value is greater than 0xFFFF";
    const std::string deviceListError = "Error: Error processing 'device' elements in device database - ";
    return {
        loads("Valid", dbXml(kGood),
         [](const devicedb& db, const capture_sink& log) {
             ASSERT_EQ(db.getDevices().size(), 1u);
             EXPECT_TRUE(log.lines().empty());
         }),
        fails("MajorZero", dbXml(kGood, "", "", "major=\"0\""), "Invalid database version"),
        fails("MajorEmpty", dbXml(kGood, "", "", "major=\"\""), "Invalid database version"),
        fails("MajorMissing", dbXml(kGood, "", "", "minor=\"1\""), "Invalid database version"),
        loads("MajorTen", dbXml(kGood, "", "", "major=\"10\""),
         [](const devicedb& db, const capture_sink&) { EXPECT_EQ(db.getDevices().size(), 1u); }),
        fails("MajorNotHex", dbXml(kGood, "", "", "major=\"4B4G\""), hexError),
        fails("MajorTooBig", dbXml(kGood, "", "", "major=\"10000\""), rangeError),
        loads("VidNotHex", dbXml(oneConfig("vid=\"4B4G\" pid=\"1\"")),
         [=](const devicedb& db, const capture_sink& log) {
             EXPECT_TRUE(db.getDevices().empty());
             EXPECT_TRUE(log.contains(deviceListError + hexError));
         }),
        loads("VidTooBig", dbXml(oneConfig("vid=\"10000\" pid=\"1\"")),
         [=](const devicedb& db, const capture_sink& log) {
             EXPECT_TRUE(db.getDevices().empty());
             EXPECT_TRUE(log.contains(deviceListError + rangeError));
         }),
        loads("HexForms", dbXml(oneConfig("vid=\"0x04B4\" pid=\"04b4\" interface=\"\" platform_id=\"1FF\"")),
         [](const devicedb& db, const capture_sink& log) {
             ASSERT_EQ(db.getDevices().size(), 1u);
             auto c = db.getDevices().front()->getConfigs().front();
             EXPECT_EQ(c->getVID(), 0x04B4);
             EXPECT_EQ(c->getPID(), 0x04B4);
             EXPECT_EQ(c->getInterface(), 0);  // empty reads as 0
             EXPECT_EQ(c->getPlatformId(), 0xFF);
             EXPECT_TRUE(log.lines().empty());
         }),
        loads("AbsentHexAttributesReadAsZero", dbXml(oneConfig("protocol=\"hid\"")),
         [](const devicedb& db, const capture_sink&) {
             auto c = db.getDevices().front()->getConfigs().front();
             EXPECT_EQ(c->getVID(), 0);
             EXPECT_EQ(c->getPID(), 0);
             EXPECT_EQ(c->getShortName(), "");
         }),
        loads("DuplicateCategoryAndKit",
         dbXml(oneConfig("props=\"cat\" kits=\"kit\""),
               "<category name=\"cat\"><prop name=\"a\" value=\"1\"/><prop name=\"b\" value=\"1\"/></category>"
               "<category name=\"cat\"><prop name=\"a\" value=\"2\"/><prop name=\"a\" value=\"3\"/></category>",
               "<kit name=\"kit\" value=\"first\"/><kit name=\"kit\" value=\"second\"/>"),
         [](const devicedb& db, const capture_sink&) {
             auto c = db.getDevices().front()->getConfigs().front();
             // The second category replaces the first; within it the later pair wins.
             EXPECT_EQ(c->getProps(), (std::map<std::string, std::string>{{"a", "3"}}));
             EXPECT_EQ(c->getKits(), "first");
             EXPECT_EQ(db.getKitList().size(), 2u);
         }),
        loads("UnknownCategoryAndKit", dbXml(oneConfig("props=\"nope\" kits=\"nope\"")),
         [](const devicedb& db, const capture_sink& log) {
             auto c = db.getDevices().front()->getConfigs().front();
             EXPECT_TRUE(c->getProps().empty());
             EXPECT_EQ(c->getKits(), "");
             EXPECT_TRUE(log.lines().empty());
         }),
        loads("BadRecordAmongGoodOnes",
         dbXml("<device name=\"First\"><configuration name=\"A\" vid=\"1\" pid=\"1\"/></device>"
               "<device name=\"Second\"><configuration name=\"B\" vid=\"1\" pid=\"2\"/>"
               "<configuration name=\"C\" vid=\"1\" pid=\"XYZ\"/></device>"
               "<device name=\"Third\"><configuration name=\"D\" vid=\"1\" pid=\"3\"/></device>"),
         [=](const devicedb& db, const capture_sink& log) {
             ASSERT_EQ(db.getDevices().size(), 1u);
             EXPECT_EQ(db.getDevices().front()->getName(), "First");
             ASSERT_EQ(log.lines().size(), 1u);
             EXPECT_EQ(log.lines()[0], deviceListError + hexError + "\r\n");
         }),
        loads("EmptyDatabase", dbXml(""),
         [](const devicedb& db, const capture_sink&) {
             EXPECT_TRUE(db.getDevices().empty());
             EXPECT_EQ(db.getHIDConfig(0x1234, 1, 0xFFFF), nullptr);
         }),
        loads("LongAndNonAsciiValues",
         dbXml("<device name=\"" + longText(700) + "\"><configuration name=\"C\" short_name=\"Gr\xC3\xBC\xC3\x9F"
               "e\" props=\"p\"/></device>",
               "<category name=\"p\"><prop name=\"fw_upgrade\" value=\"" + longText(4000) + "\"/></category>"),
         [](const devicedb& db, const capture_sink&) {
             EXPECT_EQ(db.getDevices().front()->getName(), longText(700));
             auto c = db.getDevices().front()->getConfigs().front();
             EXPECT_EQ(c->getDeviceName(), longText(700));
             EXPECT_EQ(c->getShortName(), "Gr\xC3\xBC\xC3\x9F" "e");
             EXPECT_EQ(c->getPropertyValue("fw_upgrade"), longText(4000));
         }),
        fails("SchemaViolation", dbXml("<gadget/>"), "XML reader initialization failed - Error reading Device database file '@XML@'"),
        fails("NotWellFormed", "<devicedb major=\"1\"><props>", "XML reader initialization failed - Error reading Device database file '@XML@'"),
        fails("ExternalEntityRefused",
         "<?xml version=\"1.0\"?><!DOCTYPE devicedb [<!ENTITY x SYSTEM \"/etc/hostname\">]>"
         "<devicedb major=\"1\"><props/><kits/><devices><device name=\"&x;\"/></devices></devicedb>",
         "XML reader initialization failed - Error reading Device database file '@XML@'"),
        fails("EntityExpansionBomb",
         "<?xml version=\"1.0\"?><!DOCTYPE devicedb [<!ENTITY a \"aaaaaaaaaa\">"
         "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
         "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">]>"
         "<devicedb major=\"1\"><props/><kits/><devices><device name=\"&e;&e;&e;&e;\"/></devices></devicedb>",
         "XML reader initialization failed - Error reading Device database file '@XML@'"),
        fails("MissingSchema", dbXml(kGood), "XML reader initialization failed - ", file_setup::no_schema, true),
        fails("MissingXml", "", "XML reader initialization failed - Error reading Device database file '@XML@'",
              file_setup::no_xml),
    };
}

class devicedb_load : public ::testing::TestWithParam<load_case> {};

TEST_P(devicedb_load, MatchesExpectation) {
    const load_case& c = GetParam();
    temp_dir dir;
    captured_log log;
    auto xml = c.files == file_setup::no_xml ? dir.path() / "absent.xml" : dir.write("devdb.xml", c.xml);
    auto xsd = c.files == file_setup::no_schema ? dir.path() / "absent.xsd" : shippedSchema();
    std::unique_ptr<devicedb> db;
    try {
        db = std::make_unique<devicedb>(log.log, xml, xsd);
    } catch (const devmgr_exception& e) {
        ASSERT_FALSE(c.error.empty()) << "unexpected failure: " << e.what();
        std::string expected = c.error;
        auto at = expected.find("@XML@");
        if (at != std::string::npos) expected.replace(at, 5, xml.string());
        EXPECT_EQ(e.getErrorCode(), c.code);
        if (c.prefixOnly)
            EXPECT_EQ(std::string(e.what()).rfind(expected, 0), 0u) << e.what();
        else
            EXPECT_EQ(e.what(), expected);
        return;
    }
    ASSERT_TRUE(c.error.empty()) << "loaded, expected: " << c.error;
    if (c.check) c.check(*db, *log.sink);
}

INSTANTIATE_TEST_SUITE_P(Table, devicedb_load, ::testing::ValuesIn(loadCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(devicedb_shipped, LoadsWithoutWarningAndCoversEveryFamily) {
    captured_log log;
    devicedb db(log.log, shippedDatabase(), shippedSchema());
    EXPECT_TRUE(log.sink->lines().empty()) << log.sink->lines().front();

    struct expect_hid {
        unsigned short pid, ifs;
        const char* name;
    };
    for (auto e : std::vector<expect_hid>{{0xF151, 0, "Tallvex3 CMSIS-DAP HID"},
                                          {0xF151, 1, "Tallvex3"},
                                          {0xF154, 0, "Nimbrel4 CMSIS-DAP HID"},
                                          {0xF154, 1, "Nimbrel4"},
                                          {0xF156, 0, "Tallvex2 CMSIS-DAP HID"},
                                          {0xF11A, 0, "Tallvex2"},
                                          {0xF150, 0, "Tallvex Bootloader"}}) {
        auto c = db.getHIDConfig(0x04B4, e.pid, e.ifs);
        ASSERT_TRUE(c) << std::hex << e.pid;
        EXPECT_EQ(c->getName(), e.name);
    }
    for (auto e : std::vector<expect_hid>{{0xF152, 0, "Tallvex3 CMSIS-DAP BULK"},
                                          {0xF152, 1, "Tallvex3"},
                                          {0xF155, 0, "Nimbrel4 CMSIS-DAP BULK"},
                                          {0xF155, 1, "Nimbrel4"},
                                          {0xF153, 0, "CMSIS-DAP v2"},
                                          {0xF160, 0, "Selvo WiFi"}}) {
        auto c = db.getBulkConfigEx(0x04B4, e.pid, e.ifs);
        ASSERT_TRUE(c) << std::hex << e.pid;
        EXPECT_EQ(c->getName(), e.name);
    }
    // The third-generation USB-UART product IDs all have a serial entry.
    for (unsigned short pid : {0xF151, 0xF152, 0xF154, 0xF155, 0xF156})
        EXPECT_TRUE(db.getSerialConfig(0x04B4, pid)) << std::hex << pid;
    auto bt = db.getSerialConfigWithPlatfId(0x04B4, 0xF170, 2);
    ASSERT_TRUE(bt);
    EXPECT_NE(bt->getDeviceName().find("Selvo BlueTooth"), std::string::npos);

    auto tl3 = db.getHIDConfig(0x04B4, 0xF151, 1);
    EXPECT_EQ(tl3->getDeviceName(), "Tallvex3");
    EXPECT_TRUE(tl3->hasProperty("fw_upgrade"));
    EXPECT_TRUE(tl3->hasProperty("fw_downgrade"));
    EXPECT_TRUE(tl3->hasProperty("hwid_01"));
    EXPECT_FALSE(tl3->getKits().empty());
}

TEST(devicedb_hex, ParsesLikeABase16ReaderWithoutOverflow) {
    EXPECT_EQ(devicedb::toUInt16(std::string("")), 0);
    EXPECT_EQ(devicedb::toUInt16(std::string("FFFF")), 0xFFFF);
    EXPECT_EQ(devicedb::toUInt16(std::string("0XaB")), 0xAB);
    EXPECT_EQ(devicedb::toUInt16(std::string("0")), 0);
    for (const char* bad : {"0x", "x1", "12 ", " ", "1-", "0x0x1"})
        EXPECT_THROW(devicedb::toUInt16(std::string(bad)), devmgr_exception) << bad;
    for (const char* big : {"10000", "FFFFFFFFFFFFFFFFFFFFFFFF", "-1"}) {
        try {
            devicedb::toUInt16(std::string(big));
            ADD_FAILURE() << big;
        } catch (const devmgr_exception& e) {
            EXPECT_STREQ(e.what(), "Invalid VID or PID in device, value is greater than 0xFFFF");
        }
    }
}

}  // namespace
