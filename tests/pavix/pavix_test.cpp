#include "DeviceMgr/api/devmgr_exception.h"
#include "DeviceMgr/device_manager_dir.h"
#include "Pavix/pavix.h"
#include "support/fake_hardware.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

using morvane::devices::backend_factory;
using morvane::devices::device_manager_dir;
using morvane::pavix::PavixImpl;

namespace {

struct LogRecord {
    std::vector<std::pair<std::string, PavixLogLevel>> lines;
    bool has(const std::string& line) const {
        for (const auto& l : lines)
            if (l.first == line) return true;
        return false;
    }
};

void recordLine(const char* line, PavixLogLevel level, void* user) {
    static_cast<LogRecord*>(user)->lines.emplace_back(line, level);
}

struct MaskCase {
    unsigned int mask;
    const char* text;  // "" for "no known bit"
    bool pairing;
};

class PavixMask : public ::testing::TestWithParam<MaskCase> {};

TEST_P(PavixMask, SupportedDevicesText) {
    bool pairing = false;
    EXPECT_EQ(PavixImpl::supportedDevicesText(GetParam().mask, pairing), GetParam().text);
    EXPECT_EQ(pairing, GetParam().pairing);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PavixMask,
    ::testing::Values(MaskCase{0x0, "0x00000000", true},
                      MaskCase{0x1000, "0x00000008 0x00000010 ", true},
                      MaskCase{0x5, "0x00000001 0x00000004 ", false},
                      MaskCase{0xFF,
                               "0x00000001 0x00000002 0x00000004 0x00000008 0x00000020 0x00000040 0x00000080 "
                               "0x00000010 ",
                               false},
                      MaskCase{0x100, "", false},
                      MaskCase{0x1001, "0x00000001 0x00000008 0x00000010 ", true}));

TEST(PavixStatus, TextsAndUnknownCodes) {
    PavixImpl api;
    EXPECT_STREQ(api.getErrorDescription(1), "Recommended to upgrade the FW");
    EXPECT_STREQ(api.getErrorDescription(0), "The operation completed successfully");
    EXPECT_STREQ(api.getErrorDescription(-4), "Requested an unsuppoted parameter value");
    EXPECT_STREQ(api.getErrorDescription(-16), "The 'initialize API' was not called");
    EXPECT_STREQ(api.getErrorDescription(-27), "The long data transfer operation was canceled");
    EXPECT_EQ(api.getErrorDescription(-28), nullptr);
    EXPECT_EQ(api.getErrorDescription(2), nullptr);
    EXPECT_EQ(api.getErrorDescription(-2147483647 - 1), nullptr);
    EXPECT_EQ(api.getErrorDescription(2147483647), nullptr);
    for (int code = 1; code >= -27; --code) EXPECT_NE(api.getErrorDescription(code), nullptr) << code;
}

// Every operation that is not built yet, called the way a client would.
std::vector<std::pair<const char*, std::function<int(Pavix&)>>> pendingOperations() {
    static char buf[8];
    static unsigned char ubuf[8];
    return {
        {"getDeviceList", [](Pavix& p) { PavixDevice** l = nullptr; return p.getDeviceList(&l); }},
        {"releaseDeviceList", [](Pavix& p) { return p.releaseDeviceList(nullptr); }},
        {"openDevice", [](Pavix& p) { return p.openDevice("x"); }},
        {"getDeviceProps", [](Pavix& p) { PavixDeviceProps* d = nullptr; return p.getDeviceProps(&d); }},
        {"releaseDeviceProps", [](Pavix& p) { return p.releaseDeviceProps(nullptr); }},
        {"getPavixParam", [](Pavix& p) { return p.getPavixParam(PavixParamTl3FwVersion, buf, 8); }},
        {"getI2cParam", [](Pavix& p) { return p.getI2cParam(PavixI2cFreqs, buf, 8, 0); }},
        {"setSpiParam", [](Pavix& p) { return p.setSpiParam(PavixSpiSetFreq, 1, 0); }},
        {"getVoltage", [](Pavix& p) { int mv; return p.getVoltage(&mv, 0); }},
        {"powerOn", [](Pavix& p) { return p.powerOn(true, 0); }},
        {"upgradeFw", [](Pavix& p) { return p.upgradeFw(nullptr); }},
        {"i2cDataTransfer", [](Pavix& p) { return p.i2cDataTransfer(0x50, 0xA, 1, ubuf, 1, ubuf, 8, 0); }},
        {"spiDataTransfer", [](Pavix& p) { return p.spiDataTransfer(3, ubuf, ubuf, 4, 0); }},
        {"uartWrite", [](Pavix& p) { return p.uartWrite(ubuf, 1); }},
        {"uartReadAsync", [](Pavix& p) { return p.uartReadAsync(nullptr, ubuf, 8, nullptr); }},
        {"usbWrite", [](Pavix& p) { return p.usbWrite("00", 2); }},
        {"modeSwitch", [](Pavix& p) { return p.modeSwitch(PavixModeHid); }},
        {"i2cExecuteCommands", [](Pavix& p) { return p.i2cExecuteCommands(); }},
        {"cancelTransfer", [](Pavix& p) { return p.cancelTransfer(); }},
    };
}

TEST(PavixLifecycle, PendingOperationsAnswerByState) {
    pavix_test::scoped_backends none;
    PavixImpl api;
    for (auto& [name, op] : pendingOperations()) EXPECT_EQ(op(api), PavixErrNotInitialized) << name;
    api.closeDevice();  // harmless before initialize
    ASSERT_EQ(api.initialize(0x1, nullptr), PavixOk);
    for (auto& [name, op] : pendingOperations()) EXPECT_EQ(op(api), PavixErrNotSupported) << name;
}

TEST(PavixLifecycle, VersionOnlyAfterInitialize) {
    pavix_test::scoped_backends none;
    PavixImpl api;
    unsigned int a = 7, b = 7, c = 7, d = 7;
    EXPECT_EQ(api.getVersion(a, b, c, d), PavixErrNotInitialized);
    EXPECT_EQ(a + b + c + d, 28u);  // untouched
    ASSERT_EQ(api.initialize(0, nullptr), PavixOk);
    EXPECT_EQ(api.getVersion(a, b, c, d), PavixOk);
    EXPECT_EQ(a, 3u);
    EXPECT_EQ(b, 1u);
    EXPECT_EQ(c, 0u);
    EXPECT_EQ(d, 834u);
}

TEST(PavixLifecycle, UnknownMaskThenValidMaskThenSecondInitialize) {
    pavix_test::scoped_backends none;
    PavixImpl api;
    EXPECT_EQ(api.initialize(0x100, nullptr), PavixErrInvalidArgument);
    unsigned int a, b, c, d;
    EXPECT_EQ(api.getVersion(a, b, c, d), PavixErrNotInitialized);
    EXPECT_EQ(api.initialize(0x1, nullptr), PavixOk);
    EXPECT_EQ(api.initialize(0x1, nullptr), PavixErrNotSupported);
}

// What the device manager receives from initialize().
struct CapturedProps {
    std::string supported, hidMode;
};

CapturedProps initializeAndCapture(unsigned int mask, PavixProps* props) {
    CapturedProps out;
    backend_factory f;
    f.createManagers = [&](device_manager_dir&, morvane::logger::logmgr&,
                           const std::shared_ptr<morvane::devices::param_db>& params, std::recursive_mutex&) {
        out.supported = params->get("supported_devices");
        out.hidMode = params->get("hid_access_mode");
    };
    device_manager_dir::setBackendFactory(f);
    PavixImpl api;
    EXPECT_EQ(api.initialize(mask, props), PavixOk);
    device_manager_dir::resetBackendFactory();
    return out;
}

TEST(PavixInitialize, HandsTheManagerItsProperties) {
    auto c = initializeAndCapture(0x1000, nullptr);
    EXPECT_EQ(c.supported, "0x00000008 0x00000010 ");
    EXPECT_EQ(c.hidMode, "default");

    PavixProps props{nullptr, true};
    c = initializeAndCapture(0x5, &props);
    EXPECT_EQ(c.supported, "0x00000001 0x00000004 ");
    EXPECT_EQ(c.hidMode, "exclusive");
}

TEST(PavixInitialize, BaseDirectoryBecomesTheFirmwareDirectory) {
    PavixProps props{"/srv/pavix-data", false};
    initializeAndCapture(0x1, &props);
    EXPECT_EQ(device_manager_dir::getFWDir(), "/srv/pavix-data");
}

TEST(PavixInitialize, FailedManagerCreationLeavesEveryOperationSafe) {
    backend_factory f;
    f.createManagers = [](device_manager_dir&, morvane::logger::logmgr&, const auto&, std::recursive_mutex&) {
        throw morvane::devicemgrapi::devmgr_exception(
            morvane::devicemgrapi::devmgr_exception::ERR_LIBRARY_INIT, "Error initializing libusb library");
    };
    device_manager_dir::setBackendFactory(f);
    LogRecord log;
    Pavix* api = createPavix();
    api->setLogCallback(recordLine, &log, PavixLogError);
    EXPECT_EQ(api->initialize(0x1, nullptr), PavixErrExecution);
    EXPECT_TRUE(log.has("Error: Error =  Error initializing libusb library\r\n"));
    EXPECT_EQ(api->initialize(0x1, nullptr), PavixErrNotSupported);  // counts as initialized
    for (auto& [name, op] : pendingOperations()) EXPECT_EQ(op(*api), PavixErrExecution) << name;
    unsigned int a, b, c, d;
    EXPECT_EQ(api->getVersion(a, b, c, d), PavixOk);
    api->closeDevice();
    api->exit();
    device_manager_dir::resetBackendFactory();
}

TEST(PavixInitialize, ForeignExceptionsDoNotEscape) {
    backend_factory f;
    f.createManagers = [](device_manager_dir&, morvane::logger::logmgr&, const auto&, std::recursive_mutex&) {
        throw 42;  // not a std::exception, as some parser libraries throw
    };
    pavix_test::scoped_backends backends(f);
    PavixImpl api;
    EXPECT_EQ(api.initialize(0x1, nullptr), PavixErrExecution);
    EXPECT_EQ(api.getDeviceList(nullptr), PavixErrExecution);
}

TEST(PavixLogCallback, InitializeAndExitLinesReachTheClient) {
    pavix_test::scoped_backends none;
    LogRecord log;
    Pavix* api = createPavix();
    api->setLogCallback(recordLine, &log, PavixLogDebug);
    ASSERT_EQ(api->initialize(0x1, nullptr), PavixOk);
    EXPECT_TRUE(log.has("Info: Start API initialization\r\n"));
    bool timing = false;
    for (const auto& l : log.lines)
        timing |= l.first.rfind("Info: Hardware initialization complete ", 0) == 0 && l.second == PavixLogInfo;
    EXPECT_TRUE(timing);
    api->exit();
    EXPECT_TRUE(log.has("Debug: m_api_p->shutdown() completed\r\n"));
    for (const auto& l : log.lines) EXPECT_EQ(l.first.find("> "), std::string::npos) << "trace leaked: " << l.first;
}

TEST(PavixLogCallback, DebugLinesOnlyAtDebugLevel) {
    pavix_test::scoped_backends none;
    LogRecord log;
    Pavix* api = createPavix();
    api->setLogCallback(recordLine, &log, PavixLogInfo);
    ASSERT_EQ(api->initialize(0x1, nullptr), PavixOk);
    api->exit();
    EXPECT_TRUE(log.has("Info: Start API initialization\r\n"));
    EXPECT_FALSE(log.has("Debug: m_api_p->shutdown() completed\r\n"));
}

TEST(PavixLogCallback, NullFunctionSilencesAndInvalidLevelThrowsAfterInstalling) {
    pavix_test::scoped_backends none;
    LogRecord log;
    PavixImpl api;
    EXPECT_NO_THROW(api.setLogCallback(nullptr, nullptr, static_cast<PavixLogLevel>(99)));
    try {
        api.setLogCallback(recordLine, &log, static_cast<PavixLogLevel>(0));
        FAIL() << "no exception";
    } catch (const std::domain_error& e) {
        EXPECT_STREQ(e.what(), "Invalid message type to setLevel method");
    }
    ASSERT_EQ(api.initialize(0x1, nullptr), PavixOk);
    EXPECT_TRUE(log.has("Info: Start API initialization\r\n"));  // the sinks were installed
    api.setLogCallback(nullptr, nullptr, PavixLogInfo);
    const size_t before = log.lines.size();
    api.closeDevice();
    EXPECT_EQ(log.lines.size(), before);
}

}  // namespace
