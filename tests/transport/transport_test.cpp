// The transports against the in-process virtual probe, both USB paths.
#include "transport_support.h"

#include "DeviceMgr/api/devmgr_exception.h"
#include "inproc/inproc_device.h"
#include "model/generic_model.h"
#include "model/generic_probes.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>

using morvane::devicemgrapi::devmgr_exception;
using morvane::devices::transport_hid;
using morvane::devices::usb_transport;
using morvane::logger::logmgr;
using morvane::logger::logmsg;
using namespace pavix_bench;
using namespace transport_test;

namespace {

using code_t = devmgr_exception::ErrorCode;

enum class path { hid, bulk };

std::string pathName(path p) { return p == path::hid ? "Hid" : "Bulk"; }

// A transport over a fresh in-process generic probe.
class on_probe {
public:
    explicit on_probe(path p) {
        probe = makeProbe(p == path::hid ? genericHidProbe() : genericBulkProbe());
        dev = std::make_shared<inproc_usbdevice>(probe, 0);
        if (p == path::hid) {
            auto t = std::make_unique<clocked_hid>(dev, log);
            hid = t.get();
            transport = std::move(t);
        } else {
            dev->setConfiguration(1);
            auto t = std::make_unique<clocked_bulk>(dev, log, 0x02, 0x82);
            bulk = t.get();
            transport = std::move(t);
        }
        transport->open();
    }
    generic_model& fw() { return probe->modelAs<generic_model>(); }
    void stepClock() {
        if (hid) hid->setClock(&secondPerReading);
        if (bulk) bulk->setClock(&secondPerReading);
    }

    logmgr log;
    std::shared_ptr<virtual_probe> probe;
    std::shared_ptr<inproc_usbdevice> dev;
    std::unique_ptr<usb_transport> transport;
    clocked_hid* hid = nullptr;
    clocked_bulk* bulk = nullptr;
};

struct outcome {
    std::optional<code_t> error;  // none: the exchange succeeds
    std::string text;             // the error's text
    uint8_t status = 0;           // byte 1 of the answer returned
};
outcome ok(uint8_t status) { return {std::nullopt, {}, status}; }
outcome fails(code_t code, std::string text) { return {code, std::move(text), 0}; }

std::string timeoutText(const char* attempts) {
    return std::string("Timeout of Response read for '0x88' command. Num attempts = '") + attempts + "'";
}

struct check_case {
    const char* name;
    std::vector<fault> script;
    bool waitStatus;
    bool stepClock;  // every clock reading one second after the previous
    outcome expect;
};

const check_case kCheckCases[] = {
    {"Echo", {}, false, false, ok(0x00)},
    {"HundredStaleAnswersThenTheRealOne", {fault::stale(100)}, false, false, ok(0x00)},
    {"HundredAndFirstStaleAnswerFails", {fault::stale(101)}, false, false,
     fails(devmgr_exception::ERR_COMMAND_FAILED, timeoutText("101"))},
    {"WaitAnswersHonouredWhenAsked", {fault::waits(3)}, true, false, ok(0x00)},
    {"WaitAnswerReturnedWhenNotAsked", {fault::waits(3)}, false, false, ok(0x01)},
    // Thirty seconds of waits: each wait answer opens a new window.
    {"EveryWaitRestartsTheWindow", {fault::waits(30)}, true, true, ok(0x00)},
    // Stale answers do not: the eleventh reading is past ten seconds.
    {"StaleAnswersRunTheWindowOut", {fault::stale(50)}, true, true,
     fails(devmgr_exception::ERR_COMMAND_FAILED, timeoutText("11"))},
    // Without the wait flag the first wait answer is the answer, whatever the clock.
    {"WaitNotAskedEndsBeforeTheWindow", {fault::waits(30)}, false, true, ok(0x01)},
};

class ResponseCheck : public ::testing::TestWithParam<std::tuple<path, check_case>> {};

TEST_P(ResponseCheck, Table) {
    const auto& [p, c] = GetParam();
    on_probe bench(p);
    for (const auto& f : c.script) bench.fw().script(f);
    if (c.stepClock) bench.stepClock();

    // Callers pass one vector for the command and its answer.
    std::vector<unsigned char> buf{0x88, 0x12, 0x34, 0x56};
    if (c.expect.error) {
        try {
            bench.transport->transmitDataResponseCheck(buf, buf, c.waitStatus, false);
            FAIL() << "no error";
        } catch (const devmgr_exception& e) {
            EXPECT_EQ(e.getErrorCode(), *c.expect.error);
            EXPECT_STREQ(e.what(), c.expect.text.c_str());
        }
    } else {
        bench.transport->transmitDataResponseCheck(buf, buf, c.waitStatus, false);
        ASSERT_GE(buf.size(), 4u);
        EXPECT_EQ(buf[0], 0x88);
        EXPECT_EQ(buf[1], c.expect.status);
        EXPECT_EQ(buf[2], 0x34);
        EXPECT_EQ(buf[3], 0x56);
    }
    // Never sent again, whatever came back.
    EXPECT_EQ(bench.fw().receivedCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Transports, ResponseCheck,
                         ::testing::Combine(::testing::Values(path::hid, path::bulk), ::testing::ValuesIn(kCheckCases)),
                         [](const auto& info) {
                             return pathName(std::get<0>(info.param)) + std::get<1>(info.param).name;
                         });

struct execute_case {
    const char* name;
    std::vector<fault> script;
    outcome expect;
};

const execute_case kExecuteCases[] = {
    // With one vector for command and answer, the stale answer must not be compared with itself.
    {"StaleAnswersSkippedInPlace", {fault::stale(2)}, ok(0x00)},
    {"HundredStaleAnswers", {fault::stale(100)}, ok(0x00)},
    // Attempts and mismatches both count the discarded answers.
    {"HundredAndFirstStaleAnswerFails", {fault::stale(101)},
     fails(devmgr_exception::ERR_COMMAND_FAILED, timeoutText("202"))},
    {"WaitStatusIsNotLookedAt", {fault::waits(2)}, ok(0x01)},
};

class ExecuteData : public ::testing::TestWithParam<std::tuple<path, execute_case>> {};

TEST_P(ExecuteData, Table) {
    const auto& [p, c] = GetParam();
    on_probe bench(p);
    for (const auto& f : c.script) bench.fw().script(f);
    std::vector<unsigned char> buf{0x88, 0x05, 0x06};
    if (c.expect.error) {
        try {
            bench.transport->transmitExecuteData(buf, buf, false);
            FAIL() << "no error";
        } catch (const devmgr_exception& e) {
            EXPECT_EQ(e.getErrorCode(), *c.expect.error);
            EXPECT_STREQ(e.what(), c.expect.text.c_str());
        }
    } else {
        bench.transport->transmitExecuteData(buf, buf, false);
        EXPECT_EQ(buf[0], 0x88);
        EXPECT_EQ(buf[1], c.expect.status);
        EXPECT_EQ(buf[2], 0x06);
    }
    EXPECT_EQ(bench.fw().receivedCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Transports, ExecuteData,
                         ::testing::Combine(::testing::Values(path::hid, path::bulk), ::testing::ValuesIn(kExecuteCases)),
                         [](const auto& info) {
                             return pathName(std::get<0>(info.param)) + std::get<1>(info.param).name;
                         });

class OnBothPaths : public ::testing::TestWithParam<path> {};

void expectCancelled(const std::function<void()>& fn) {
    try {
        fn();
        FAIL() << "not cancelled";
    } catch (const devmgr_exception& e) {
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_CANCELLED);
        EXPECT_STREQ(e.what(), "USB data transfer was canceled");
    }
}

TEST_P(OnBothPaths, PendingCancelSkipsUncancellableExchangesAndIsConsumedOnce) {
    on_probe bench(GetParam());
    auto& t = *bench.transport;
    std::vector<unsigned char> cfg{0x84, 0};
    std::vector<unsigned char> i2c{0x88, 0};
    std::vector<unsigned char> buffer{0x7F, 0};

    t.cancelTransfer();
    t.transmitDataResponseCheck(cfg, cfg, false, true);
    t.transmitExecuteData(buffer, buffer, true);
    expectCancelled([&] { t.transmitDataResponseCheck(i2c, i2c, true, false); });
    i2c = {0x88, 0};
    t.transmitDataResponseCheck(i2c, i2c, true, false);
    EXPECT_EQ(i2c[0], 0x88);

    t.cancelTransfer();
    t.cancelTransfer();  // raising it twice is still one cancel
    expectCancelled([&] { t.transmitExecuteData(buffer, buffer, false); });
    buffer = {0x7F, 0};
    t.transmitExecuteData(buffer, buffer, false);
    EXPECT_EQ(buffer[0], 0x7F);
}

TEST_P(OnBothPaths, TransmitDataChecksNothing) {
    on_probe bench(GetParam());
    bench.fw().script(fault::stale(1));
    std::vector<unsigned char> cmd{0x88, 1}, resp;
    bench.transport->transmitData(cmd, resp);
    ASSERT_FALSE(resp.empty());
    EXPECT_EQ(resp[0], 0x88 ^ 0xFF);
    EXPECT_EQ(cmd, (std::vector<unsigned char>{0x88, 1}));
}

TEST_P(OnBothPaths, OpenCloseForwardToTheDevice) {
    on_probe bench(GetParam());
    EXPECT_TRUE(bench.transport->isOpen());
    EXPECT_EQ(bench.transport->isHid(), GetParam() == path::hid);
    bench.transport->close();
    EXPECT_FALSE(bench.transport->isOpen());
    EXPECT_FALSE(bench.dev->isOpen());
    bench.transport->open();
    EXPECT_TRUE(bench.dev->isOpen());
}

INSTANTIATE_TEST_SUITE_P(Transports, OnBothPaths, ::testing::Values(path::hid, path::bulk),
                         [](const auto& info) { return pathName(info.param); });

TEST(TransportBulk, TransferErrorsPassThroughUnchanged) {
    on_probe bench(path::bulk);
    bench.fw().script(fault::noAnswer());
    std::vector<unsigned char> buf{0x86, 0};
    try {
        bench.transport->transmitDataResponseCheck(buf, buf, false, true);
        FAIL() << "no error";
    } catch (const devmgr_exception& e) {
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_TIMEOUT);
        EXPECT_STREQ(e.what(), "Timeout in receiveBuildPacket()");
    }
    bench.fw().script(fault::stall());
    buf = {0x86, 0};
    try {
        bench.transport->transmitDataResponseCheck(buf, buf, false, true);
        FAIL() << "no error";
    } catch (const devmgr_exception& e) {
        EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_PIPE);
    }
}

TEST(TransportHid, DeviceWithoutReportChannelIsMalformed) {
    logmgr log;
    auto bulkDev = std::make_shared<inproc_usbdevice>(makeProbe(genericBulkProbe()), 0);
    for (auto dev : {std::shared_ptr<morvane::devices::usbdevice>(bulkDev), std::shared_ptr<morvane::devices::usbdevice>()}) {
        try {
            transport_hid t(dev, log);
            FAIL() << "accepted";
        } catch (const devmgr_exception& e) {
            EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_MALFORMED_DEVICE);
            EXPECT_STREQ(e.what(), "Malformed USB device - no HID interface found");
        }
    }
}

TEST(TransportLog, RetriesAndBothEndsOfTheExchangeAreLogged) {
    on_probe bench(path::hid);
    auto sink = std::make_shared<capture_sink>();
    bench.log.setSink(logmsg::msgtype::Debug, sink);
    bench.log.setLevel(logmsg::msgtype::Debug, 1);
    bench.fw().script({fault::waits(3), fault::stale(1), fault::stale(101)});

    std::vector<unsigned char> buf{0x88, 0x12, 0x34, 0x56};
    bench.transport->transmitDataResponseCheck(buf, buf, true, false);
    buf = {0x88, 0x0A};
    bench.transport->transmitDataResponseCheck(buf, buf, true, false);
    buf = {0x88};
    EXPECT_THROW(bench.transport->transmitDataResponseCheck(buf, buf, true, false), devmgr_exception);

    const auto lines = sink->lines();
    const std::vector<std::string> expected{
        "Debug: >> usb_transport::transmitDataResponseCheck()\r\n",
        "Debug: WAIT Read retry N = 2 CmdByte[0] = 0x88 12 34\r\n",
        "Debug: WAIT Read retry N = 3 CmdByte[0] = 0x88 12 34\r\n",
        "Debug: << usb_transport::transmitDataResponseCheck()\r\n",
        "Debug: >> usb_transport::transmitDataResponseCheck()\r\n",
        "Debug: transmitDataResponseCheck Read retry N = 1 CmdByte[0] = 0x88 ResponseByte[0] = 0x77\r\n",
        "Debug: << usb_transport::transmitDataResponseCheck()\r\n",
        "Debug: >> usb_transport::transmitDataResponseCheck()\r\n",
    };
    ASSERT_GE(lines.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << i;
    // The failing exchange logs 100 retries, then its exit line.
    EXPECT_EQ(lines.size(), expected.size() + 100 + 1);
    EXPECT_EQ(lines.back(), "Debug: << usb_transport::transmitDataResponseCheck()\r\n");
}

// Answers shorter than the fields read, and empty ones, straight from a script.
class scripted_transport : public usb_transport {
public:
    explicit scripted_transport(logmgr& log) : usb_transport(log) {}
    void open() override {}
    void close() override {}
    bool isOpen() const override { return true; }
    void sendData(const std::vector<unsigned char>& data) override { sent.push_back(data); }
    void receiveData(std::vector<unsigned char>& data) override {
        if (answers.empty()) throw devmgr_exception(devmgr_exception::ERR_TIMEOUT, "script ran out");
        data = answers.front();
        answers.pop_front();
    }
    bool isHid() override { return false; }

    std::deque<std::vector<unsigned char>> answers;
    std::vector<std::vector<unsigned char>> sent;
};

TEST(TransportShortAnswers, CodeOnlyAndEmptyAnswersAreNotReadPast) {
    logmgr log;
    scripted_transport t(log);
    std::vector<unsigned char> buf{0x88, 0x01, 0x02};

    // A code without a status cannot be a wait answer.
    t.answers = {{}, {0x88}};
    t.transmitDataResponseCheck(buf, buf, true, false);
    EXPECT_EQ(buf, (std::vector<unsigned char>{0x88}));

    buf = {0x7F, 0x01};
    t.answers = {{}, {0x7F}};
    t.transmitExecuteData(buf, buf, false);
    EXPECT_EQ(buf, (std::vector<unsigned char>{0x7F}));

    // Nothing but empty answers is a run of mismatches like any other.
    buf = {0x88};
    t.answers.assign(101, std::vector<unsigned char>{});
    try {
        t.transmitDataResponseCheck(buf, buf, true, false);
        FAIL() << "no error";
    } catch (const devmgr_exception& e) {
        EXPECT_STREQ(e.what(), timeoutText("101").c_str());
    }
}

TEST(TransportShortAnswers, EmptyCommandIsRefusedUnsent) {
    logmgr log;
    scripted_transport t(log);
    std::vector<unsigned char> empty, resp;
    for (auto fn : {+[](usb_transport& x, std::vector<unsigned char>& c, std::vector<unsigned char>& r) {
                        x.transmitDataResponseCheck(c, r, false, false);
                    },
                    +[](usb_transport& x, std::vector<unsigned char>& c, std::vector<unsigned char>& r) {
                        x.transmitExecuteData(c, r, false);
                    }}) {
        try {
            fn(t, empty, resp);
            FAIL() << "accepted";
        } catch (const devmgr_exception& e) {
            EXPECT_EQ(e.getErrorCode(), devmgr_exception::ERR_INVALID_REQUEST);
        }
    }
    EXPECT_TRUE(t.sent.empty());
}

}  // namespace
