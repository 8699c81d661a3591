// The in-process attachment: a virtual probe behind the library's device-object seam.
#include "inproc/inproc_device.h"
#include "model/generic_probes.h"

#include "DeviceMgr/api/devmgr_exception.h"

#include <gtest/gtest.h>

using morvane::devicemgrapi::devmgr_exception;
using namespace pavix_bench;

namespace {

bytes command(uint8_t code, std::initializer_list<uint8_t> rest = {}) {
    bytes b{code, 0xAA};
    for (uint8_t r : rest) b.push_back(r);
    return b;
}

devmgr_exception::ErrorCode codeOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const devmgr_exception& e) {
        return e.getErrorCode();
    }
    ADD_FAILURE() << "no devmgr_exception";
    return devmgr_exception::ErrorCode(0);
}

struct hid_fixture : ::testing::Test {
    std::shared_ptr<virtual_probe> probe = makeProbe(genericHidProbe());
    generic_model& model = probe->modelAs<generic_model>();
    inproc_usbdevice dev{probe, 0, "Generic"};
    std::shared_ptr<morvane::devices::hiddevice> hid = dev.getHIDDevice();
    void SetUp() override { hid->open(); }
    bytes roundTrip(const bytes& cmd, unsigned timeout = 200) {
        hid->writeReport(cmd, 1000);
        bytes r;
        hid->readReport(r, timeout);
        return r;
    }
};

struct bulk_fixture : ::testing::Test {
    std::shared_ptr<virtual_probe> probe = makeProbe(genericBulkProbe());
    generic_model& model = probe->modelAs<generic_model>();
    inproc_usbdevice dev{probe, 0, "Generic"};
    void SetUp() override {
        dev.open();
        dev.setConfiguration(1);
    }
    bytes roundTrip(const bytes& cmd, unsigned timeout = 200) {
        dev.sendBulkPacket(0x02, cmd, 1000);
        bytes r;
        dev.receiveBulkPacket(0x82, r, timeout);
        return r;
    }
};

}  // namespace

TEST(InprocIdentity, HidAndBulkObjectsReportTheDescription) {
    auto hidp = makeProbe(genericHidProbe(0x1209, 0xBEEF, "SN-42"));
    inproc_usbdevice h(hidp, 0, "Rec");
    EXPECT_EQ(h.getVID(), 0x1209);
    EXPECT_EQ(h.getPID(), 0xBEEF);
    EXPECT_EQ(h.getSerial(), "SN-42");
    EXPECT_EQ(h.getManufacturerStr(), "Virtual Probe Works");
    EXPECT_EQ(h.getProductStr(), "Generic HID Probe");
    EXPECT_EQ(h.getName(), "hidapi");
    EXPECT_EQ(h.getDbName(), "Rec");
    EXPECT_EQ(h.getEndpointMaxPacketSize(0x81), 64);
    EXPECT_EQ(codeOf([&] { h.getCurrentInterface(); }), devmgr_exception::ERR_NOT_SUPPORTED);
    EXPECT_EQ(codeOf([&] { bytes d; h.sendBulkPacket(2, d, 10); }), devmgr_exception::ERR_IO);

    probe_desc bd = genericBulkProbe();
    bd.bus = 3;
    bd.ports = {2, 4};
    inproc_usbdevice b(makeProbe(bd), 0);
    EXPECT_EQ(b.getLocation(), "3:2,4");
    EXPECT_EQ(b.getCurrentInterface(), 0);
    EXPECT_EQ(b.getProductStr(), "Generic Bulk Channel");
    EXPECT_TRUE(b.hasEndpoint(0x82));
    EXPECT_FALSE(b.hasEndpoint(0x85));
    EXPECT_EQ(codeOf([&] { b.getHIDDevice(); }), devmgr_exception::ERR_NOT_SUPPORTED);
}

TEST_F(hid_fixture, EchoesTheCommandWithStatusZeroPaddedTo64) {
    bytes r = roundTrip(command(0x84, {1, 2, 3}));
    ASSERT_EQ(r.size(), 64u);
    EXPECT_EQ(r[0], 0x84);
    EXPECT_EQ(r[1], 0x00);
    EXPECT_EQ(r[2], 1);
    EXPECT_EQ(r[4], 3);
    ASSERT_EQ(model.receivedCount(), 1u);
    EXPECT_EQ(model.received()[0].size(), 64u);  // the model sees the whole report
}

TEST_F(hid_fixture, ReadTimesOutAsZeroReport) {
    model.script(fault::noAnswer());
    EXPECT_EQ(roundTrip(command(0x86), 20), bytes(64, 0));
}

TEST_F(hid_fixture, WriteLimitIs64Bytes) {
    EXPECT_NO_THROW(hid->writeReport(bytes(64, 1), 100));
    EXPECT_EQ(codeOf([&] { hid->writeReport(bytes(65, 1), 100); }), devmgr_exception::ERR_NOT_OPEN);
}

TEST_F(hid_fixture, CloseTwiceFails) {
    hid->close();
    EXPECT_EQ(codeOf([&] { hid->close(); }), devmgr_exception::ERR_OPEN_STATE);
}

// Each scripted fault, as the host sees it through a HID channel.
struct fault_case {
    const char* name;
    fault f;
    std::vector<std::pair<uint8_t, uint8_t>> reads;  // expected (byte 0, byte 1) per read
    friend void PrintTo(const fault_case& c, std::ostream* os) { *os << c.name; }
};

class HidFaults : public hid_fixture, public ::testing::WithParamInterface<fault_case> {};

TEST_P(HidFaults, AnswersAsScripted) {
    model.script(GetParam().f);
    hid->writeReport(command(0x88), 100);
    for (auto [b0, b1] : GetParam().reads) {
        bytes r;
        hid->readReport(r, 300);
        ASSERT_EQ(r.size(), 64u);
        EXPECT_EQ(r[0], b0);
        EXPECT_EQ(r[1], b1);
    }
    EXPECT_EQ(model.pendingFaults(), 0u);
    // The next exchange is undisturbed.
    bytes r = roundTrip(command(0x90));
    EXPECT_EQ(r[0], 0x90);
}

INSTANTIATE_TEST_SUITE_P(
    Script, HidFaults,
    ::testing::Values(fault_case{"delay", fault::delayMs(30), {{0x88, 0}}},
                      fault_case{"wait3", fault::waits(3), {{0x88, 1}, {0x88, 1}, {0x88, 1}, {0x88, 0}}},
                      fault_case{"wrong_code", fault::wrongCode(), {{0x77, 0}}},
                      fault_case{"short", fault::shortAnswer(1), {{0x88, 0}}},
                      fault_case{"no_answer", fault::noAnswer(), {{0, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(hid_fixture, DelayedAnswerArrivesAfterAnEarlierTimeout) {
    model.script(fault::delayMs(80));
    hid->writeReport(command(0x89), 100);
    bytes r;
    hid->readReport(r, 5);
    EXPECT_EQ(r, bytes(64, 0));
    hid->readReport(r, 2000);
    EXPECT_EQ(r[0], 0x89);
}

TEST_F(hid_fixture, DisconnectMidExchangeFailsTheRead) {
    model.script(fault::disconnect());
    hid->writeReport(command(0x88), 100);
    bytes r;
    EXPECT_EQ(codeOf([&] { hid->readReport(r, 2000); }), devmgr_exception::ERR_NOT_OPEN);
    EXPECT_FALSE(probe->connected());
    EXPECT_EQ(codeOf([&] { hid->writeReport(command(0x88), 100); }), devmgr_exception::ERR_NOT_OPEN);
}

TEST_F(bulk_fixture, EchoesInEndpointSizedBuffer) {
    bytes r = roundTrip(command(0x84, {9}));
    ASSERT_EQ(r.size(), 64u);
    EXPECT_EQ(r[0], 0x84);
    EXPECT_EQ(r[2], 9);
}

TEST_F(bulk_fixture, TimeoutStallAndClearHalt) {
    model.script({fault::noAnswer(), fault::stall()});
    dev.sendBulkPacket(0x02, command(0x84), 100);
    bytes r;
    EXPECT_EQ(codeOf([&] { dev.receiveBulkPacket(0x82, r, 20); }), devmgr_exception::ERR_TIMEOUT);
    dev.sendBulkPacket(0x02, command(0x84), 100);
    EXPECT_EQ(codeOf([&] { dev.receiveBulkPacket(0x82, r, 200); }), devmgr_exception::ERR_PIPE);
    // Halted until the host clears it.
    EXPECT_EQ(codeOf([&] { dev.receiveBulkPacket(0x82, r, 20); }), devmgr_exception::ERR_PIPE);
    dev.resetEndpoint(0x82);
    EXPECT_EQ(roundTrip(command(0x86))[0], 0x86);
}

TEST_F(bulk_fixture, OversizedPacketFailsBeforeAnyTransfer) {
    EXPECT_EQ(codeOf([&] { dev.sendBulkPacket(0x02, bytes(65, 0), 100); }), devmgr_exception::ERR_BUFFER_SIZE);
    EXPECT_EQ(model.receivedCount(), 0u);
}

TEST_F(bulk_fixture, UnplugDuringTransferGivesNoDevice) {
    model.script(fault::disconnect());
    dev.sendBulkPacket(0x02, command(0x84), 100);
    bytes r;
    EXPECT_EQ(codeOf([&] { dev.receiveBulkPacket(0x82, r, 2000); }), devmgr_exception::ERR_NO_DEVICE);
    EXPECT_EQ(codeOf([&] { dev.sendBulkPacket(0x02, command(0x84), 100); }), devmgr_exception::ERR_NO_DEVICE);
}

TEST_F(bulk_fixture, ControlInAndOut) {
    model.controlIn(0x21, {1, 2, 3, 4});
    bytes in;  // empty: up to 64 bytes come back
    dev.controlPacket(0xC0, 0x21, 0, 0, in, 100);
    EXPECT_EQ(in, (bytes{1, 2, 3, 4}));
    bytes out{7, 8};
    dev.controlPacket(0x40, 0x22, 0, 0, out, 100);
    EXPECT_EQ(model.received().back(), (bytes{7, 8}));
    bytes desc(18);
    dev.controlPacket(0x80, 0x06, 0x0100, 0, desc, 100);
    EXPECT_EQ(desc, deviceDescriptor(probe->desc()));
    model.script(fault::stall());
    bytes s;
    EXPECT_EQ(codeOf([&] { dev.controlPacket(0xC0, 0x21, 0, 0, s, 100); }), devmgr_exception::ERR_PIPE);
}
