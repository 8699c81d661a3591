#include "PgmFile/file_reader.h"

#include <gtest/gtest.h>

#include <functional>

using morvane::pgmfile::file_reader;
using morvane::pgmfile::pgmfile_exception;

namespace {

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const pgmfile_exception& e) {
        return e.what();
    }
    return "<no error>";
}

struct HexCase {
    const char* text;
    bool asWritten;
    std::uint64_t value;
    bool valid;
};

class HexStrToInt : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexStrToInt, DigitsOnly) {
    const auto& c = GetParam();
    if (c.valid) {
        EXPECT_EQ(file_reader::hexStrToInt(c.text, c.asWritten), c.value);
    } else {
        EXPECT_EQ(errorOf([&] { file_reader::hexStrToInt(c.text, c.asWritten); }),
                  std::string("Invalid hex string - ' ") + c.text + "'");
    }
}

INSTANTIATE_TEST_SUITE_P(
    FileReader, HexStrToInt,
    ::testing::Values(HexCase{"FF", true, 0xFF, true}, HexCase{"a1B2", true, 0xA1B2, true},
                      HexCase{"A1B2C3", false, 0xC3B2A1, true},
                      HexCase{"FFFFFFFFFFFFFFFF", true, 0xFFFFFFFFFFFFFFFFull, true},
                      HexCase{"00000000000000000012", true, 0x12, true},
                      // Everything strtoull would have let through:
                      HexCase{"-1", true, 0, false}, HexCase{"+1", true, 0, false}, HexCase{" 1", true, 0, false},
                      HexCase{"0x1F", true, 0, false}, HexCase{"1 ", true, 0, false}, HexCase{"", true, 0, false},
                      HexCase{"1G", true, 0, false}, HexCase{"10000000000000000", true, 0, false}));

TEST(FileReader, FieldsAsWrittenOrLeastSignificantFirst) {
    const std::string line = ":0102030405060708090A0B";
    EXPECT_EQ(file_reader::getUint8(line, 1), 0x01);
    EXPECT_EQ(file_reader::getUint16(line, 1, true), 0x0102);
    EXPECT_EQ(file_reader::getUint16(line, 1, false), 0x0201);
    EXPECT_EQ(file_reader::getUint24(line, 1, false), 0x030201u);
    EXPECT_EQ(file_reader::getUint32(line, 1, true), 0x01020304u);
    EXPECT_EQ(file_reader::getUint64(line, 1, true), 0x0102030405060708ull);
    EXPECT_EQ(file_reader::getUint64(line, 1, false), 0x0807060504030201ull);
    EXPECT_EQ(file_reader::getUint8(line, line.size() - 2), 0x0B);
}

TEST(FileReader, FieldsStopAtEndOfLine) {
    const std::string line = ":0102";
    const std::string eol = "End of line encountered extracting hex data";
    EXPECT_EQ(errorOf([&] { file_reader::getUint8(line, 4); }), eol);
    EXPECT_EQ(errorOf([&] { file_reader::getUint16(line, 2, true); }), eol);
    EXPECT_EQ(errorOf([&] { file_reader::getUint8(line, 100); }), eol);
    EXPECT_EQ(errorOf([&] { file_reader::getUint8(line, ~0ul); }), eol);
    EXPECT_EQ(errorOf([&] { file_reader::getUint16(line, 1, false); }), "<no error>");
    EXPECT_EQ(errorOf([&] { file_reader::getUint8(":-1", 1); }), "Invalid hex string - ' -1'");
}

TEST(FileReader, DataBytes) {
    std::vector<unsigned char> out{0xEE};
    file_reader::getData(":00ff7A", 1, out, 6);
    EXPECT_EQ(out, (std::vector<unsigned char>{0xEE, 0x00, 0xFF, 0x7A}));
    EXPECT_EQ(errorOf([&] { file_reader::getData(":00ff7A", 1, out, 5); }), "Requires an even number of characters");
    EXPECT_EQ(errorOf([&] { file_reader::getData(":00ff7A", 3, out, 6); }),
              "End of line encountered extracting programming file data");
    out.clear();
    EXPECT_EQ(errorOf([&] { file_reader::getData(":00 f7A", 1, out, 6); }), "Invalid hex string - '  f'");
    EXPECT_TRUE(out.empty());
}

TEST(FileReader, LineSizeAndText) {
    EXPECT_EQ(errorOf([] { file_reader::checkLineSize(5, 4); }),
              "Invalid Byte count: expected Byte count '0x5'; real Byte count '0x4'");
    EXPECT_EQ(errorOf([] { file_reader::checkLineSize(0x120, 0x120); }), "<no error>");
    EXPECT_EQ(file_reader::trim(" \t:00 \r\n"), ":00");
    EXPECT_EQ(file_reader::trim(" \r\n "), "");
    EXPECT_EQ(file_reader::reverseBytes("A1B2C3"), "C3B2A1");
    EXPECT_EQ(file_reader::reverseBytes(""), "");
}

}  // namespace
