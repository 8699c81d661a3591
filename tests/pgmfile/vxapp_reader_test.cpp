#include "PgmFile/vxapp_file_reader.h"
#include "vxapp_gen/vxapp_gen.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <unistd.h>

using morvane::pgmfile::pgmfile_exception;
using morvane::pgmfile::programming_file;
using morvane::pgmfile::vxapp_file_reader;
namespace gen = pavix_test::vxapp;

namespace {

using Layout = std::vector<std::pair<unsigned long, unsigned long>>;

Layout layout(const programming_file& f) {
    Layout out;
    for (auto s : f.getSections()) out.emplace_back(s, f.getSectionSize(s));
    return out;
}

// The image a reader must produce for the good rows of a generated file.
programming_file expected(const gen::image& img) {
    programming_file f("vxapp");
    for (const auto& r : img.goodRows()) f.addData(r.address(), r.data);
    return f;
}

const std::vector<unsigned char> Row50 = {1, 2, 3, 4};

struct FileCase {
    const char* name;
    std::string text;
    Layout sections;    // what is loaded, also when loading fails part way
    std::string error;  // empty: loads cleanly
    bool verify = true;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class ReadBuffer : public ::testing::TestWithParam<FileCase> {};

TEST_P(ReadBuffer, LoadsOrFailsWithLineNumber) {
    const auto& c = GetParam();
    auto f = std::make_shared<programming_file>("vxapp");
    vxapp_file_reader reader;
    std::string error;
    try {
        reader.loadDataBuffer(c.text, f, c.verify);
    } catch (const pgmfile_exception& e) {
        error = e.what();
    }
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(layout(*f), c.sections);
}

const std::string H = "VXAPP header\n";

INSTANTIATE_TEST_SUITE_P(
    Vxapp, ReadBuffer,
    ::testing::Values(
        FileCase{"OneRow", H + ":000032000401020304C0\n", {{0x320000, 4}}, ""},
        FileCase{"NoFinalLineEnd", H + ":000032000401020304C0", {{0x320000, 4}}, ""},
        FileCase{"LowerCase", H + ":000032000401020304c0\n", {{0x320000, 4}}, ""},
        FileCase{"CrLf", "hdr\r\n:000032000401020304C0\r\n:000033000401020304BF\r\n",
                 {{0x320000, 4}, {0x330000, 4}}, ""},
        FileCase{"TrailingBlanks", H + ":000032000401020304C0 \t \n", {{0x320000, 4}}, ""},
        FileCase{"LeadingBlankSkipsRow", H + " :000032000401020304C0\n", {}, ""},
        FileCase{"HeaderOnly", "VXAPP header\n", {}, ""},
        FileCase{"HeaderOnlyNoLineEnd", "VXAPP header", {}, ""},
        FileCase{"Empty", "", {}, ""},
        FileCase{"HeaderThatLooksLikeARow", ":000032000401020304C0\n", {}, ""},
        FileCase{"OtherLinesSkipped", H + "\n# note\n:000032000401020304C0\n\n", {{0x320000, 4}}, ""},
        FileCase{"ArrayAndRowMakeAddress", H + ":400004000101BA\n", {{0x4000040000ul, 1}}, ""},
        FileCase{"ChecksumError", H + ":000032000401020304C1\n", {},
                 "line 2: Invalid checksum, expected '0xc0', got '0xc1'"},
        FileCase{"ChecksumNotVerified", H + ":000032000401020304C1\n", {{0x320000, 4}}, "", false},
        FileCase{"LineNumberCountsSkippedLines", H + ":000032000401020304C0\n\n:000033000401020304C0\n",
                 {{0x320000, 4}}, "line 4: Invalid checksum, expected '0xbf', got '0xc0'"},
        FileCase{"ByteCountTooBig", H + ":000032000501020304BF\n", {},
                 "line 2: Invalid Byte count: expected Byte count '0x5'; real Byte count '0x4'"},
        FileCase{"OddDataCharacters", H + ":0000320004010203040C0\n", {},
                 "line 2: Requires an even number of characters"},
        FileCase{"ChecksumMissing", H + ":0000320000\n", {}, "line 2: End of line encountered extracting hex data"},
        FileCase{"HeaderFieldsCut", H + ":00003\n", {}, "line 2: End of line encountered extracting hex data"},
        FileCase{"DuplicateRowOverwrites", H + ":000032000401020304C0\n:000032000401020304C0\n",
                 {{0x320000, 4}}, ""},
        FileCase{"DuplicateRowLonger", H + ":000032000401020304C0\n:00003200050102030405BA\n",
                 {{0x320000, 4}}, "line 3: Invalid programming file - data segment overlap existing segments"},
        FileCase{"EmptyRow", H + ":0000320000CE\n", {},
                 "line 2: No data at address'0x320000' in programming file '<UNKNOWN>'"},
        FileCase{"SignInRowNumber", H + ":00-001000401020304C0\n", {}, "line 2: Invalid hex string - ' -001'"},
        FileCase{"PlusInLength", H + ":000032+00401020304C0\n", {}, "line 2: Invalid hex string - ' +004'"},
        FileCase{"HexPrefixInLength", H + ":0000320x0401020304C0\n", {}, "line 2: Invalid hex string - ' 0x04'"},
        FileCase{"BlankInArrayId", H + ": 00032000401020304C0\n", {}, "line 2: Invalid hex string - '  0'"},
        FileCase{"SignInData", H + ":0000320004-1020304C0\n", {}, "line 2: Invalid hex string - ' -1'"},
        FileCase{"SignInChecksum", H + ":000032000401020304-1\n", {},
                 "line 2: Invalid hex string - ' -1'"}),
    [](const auto& info) { return std::string(info.param.name); });

// Generated faults, checked against the generator's own idea of the good rows.
struct FaultCase {
    const char* name;
    gen::fault f;
    std::string error;  // the start of the text after the line prefix
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class GeneratedFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(GeneratedFault, StopsAtTheBadRowAndKeepsEarlierRows) {
    gen::image img;
    img.add({0, 0x32, gen::pattern(288, 1)}).add({0, 0x33, gen::pattern(288, 2)});
    img.add({0, 0x34, gen::pattern(288, 3)}, GetParam().f);
    img.add({0, 0x35, gen::pattern(288, 4)});
    auto f = std::make_shared<programming_file>("vxapp");
    try {
        vxapp_file_reader().loadDataBuffer(img.text(), f, true);
        FAIL() << "no error";
    } catch (const pgmfile_exception& e) {
        const std::string want = "line 4: " + GetParam().error;
        EXPECT_EQ(std::string(e.what()).substr(0, want.size()), want) << e.what();
    }
    gen::image good;
    good.add({0, 0x32, gen::pattern(288, 1)}).add({0, 0x33, gen::pattern(288, 2)});
    EXPECT_TRUE(*f == expected(good));
}

INSTANTIATE_TEST_SUITE_P(
    Vxapp, GeneratedFault,
    ::testing::Values(FaultCase{"CountTooBig", gen::fault::count_too_big,
                                "Invalid Byte count: expected Byte count '0x121'; real Byte count '0x120'"},
                      FaultCase{"CountTooSmall", gen::fault::count_too_small,
                                "Invalid Byte count: expected Byte count '0x11f'; real Byte count '0x120'"},
                      FaultCase{"OddDataChars", gen::fault::odd_data_chars, "Requires an even number of characters"},
                      FaultCase{"NoChecksum", gen::fault::no_checksum,
                                "Invalid Byte count: expected Byte count '0x120'; real Byte count '0x11f'"},
                      FaultCase{"SignInField", gen::fault::sign_in_field, "Invalid hex string - ' -001'"},
                      FaultCase{"HexPrefix", gen::fault::hex_prefix, "Invalid hex string - ' 0x20'"},
                      FaultCase{"BlankInField", gen::fault::blank_in_field, "Invalid hex string - '  0'"},
                      FaultCase{"BadDigit", gen::fault::bad_digit, "Invalid hex string - ' G"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Vxapp, BadChecksumFromGenerator) {
    gen::image img;
    img.add({1, 2, {0xAA}}, gen::fault::bad_checksum);
    auto f = std::make_shared<programming_file>("vxapp");
    // 1 + 0 + 2 + 0 + 1 + 0xAA = 0xAE -> expected 0x52
    EXPECT_THROW(
        {
            try {
                vxapp_file_reader().loadDataBuffer(img.text(), f, true);
            } catch (const pgmfile_exception& e) {
                EXPECT_STREQ(e.what(), "line 2: Invalid checksum, expected '0x52', got '0x53'");
                throw;
            }
        },
        pgmfile_exception);
}

TEST(Vxapp, GeneratedLayoutVariants) {
    gen::line_options lower;
    lower.lowerCase = true;
    lower.trailing = " \t";
    gen::line_options indented;
    indented.leading = "  ";
    gen::image img;
    img.add({0, 0x32, gen::pattern(288, 9)}, lower)
        .add({0, 0x33, gen::pattern(16, 10)}, indented)  // skipped: not a row line
        .addLine("")
        .add({0x40, 1, gen::pattern(16, 11)});
    img.eol = "\r\n";
    auto f = std::make_shared<programming_file>("vxapp");
    vxapp_file_reader().loadDataBuffer(img.text(), f, true);
    EXPECT_EQ(img.goodRows().size(), 2u);
    EXPECT_TRUE(*f == expected(img));
    EXPECT_EQ(layout(*f), (Layout{{0x320000, 288}, {0x4000010000ul, 16}}));
}

// A temporary directory removed again by the fixture.
struct VxappFiles : ::testing::Test {
    boost::filesystem::path dir;
    void SetUp() override {
        dir = boost::filesystem::temp_directory_path() /
              boost::filesystem::unique_path("pavix-vxapp-%%%%-%%%%-" + std::to_string(getpid()));
        boost::filesystem::create_directories(dir);
    }
    void TearDown() override {
        boost::system::error_code ec;
        boost::filesystem::remove_all(dir, ec);
    }
};

TEST_F(VxappFiles, FullUpgradeImageFromFileAndBuffer) {
    gen::tallvex_options opt;
    opt.custom = true;
    opt.eeprom = true;
    gen::image img = gen::tallvexImage(opt);
    img.eol = "\r\n";
    const auto path = dir / "tl3.vxapp";
    img.write(path.string());

    auto fromFile = std::make_shared<programming_file>(path.string(), "vxapp");
    vxapp_file_reader reader;
    reader.loadFile(path, fromFile, true);
    auto fromBuffer = std::make_shared<programming_file>("vxapp");
    reader.loadDataBuffer(img.text(), fromBuffer, true);

    const programming_file want = expected(img);
    EXPECT_TRUE(*fromFile == want);
    EXPECT_TRUE(*fromBuffer == want);
    EXPECT_EQ(want.getSections().size(), 486u + 4u + 1u + 1u + 4u);
    EXPECT_EQ(fromFile->getSectionSize(0x300FF0000ul), 288u);
    EXPECT_EQ(fromFile->getSectionSize(0x4000010000ul), 16u);
    EXPECT_TRUE(fromFile->hasSectionsWithDataInRange(0x320000, 0x200170120ul - 0x320000));
}

TEST_F(VxappFiles, ErrorsCarryThePath) {
    gen::image img;
    img.add({0, 1, {1, 2}}).add({0, 2, {3}}, gen::fault::bad_checksum);
    const auto path = dir / "bad.vxapp";
    img.write(path.string());
    auto f = std::make_shared<programming_file>("vxapp");
    try {
        vxapp_file_reader().loadFile(path, f, true);
        FAIL();
    } catch (const pgmfile_exception& e) {
        EXPECT_EQ(std::string(e.what()), path.string() + " - line 3: Invalid checksum, expected '0xfa', got '0xfb'");
    }
    EXPECT_EQ(layout(*f), (Layout{{0x10000, 2}}));

    const auto missing = dir / "missing.vxapp";
    try {
        vxapp_file_reader().loadFile(missing, f, true);
        FAIL();
    } catch (const pgmfile_exception& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file '" + missing.string() + "' for reading");
    }
}

TEST_F(VxappFiles, DirectoryIsAnIoError) {
    auto f = std::make_shared<programming_file>("vxapp");
    try {
        vxapp_file_reader().loadFile(dir, f, true);
        FAIL();
    } catch (const pgmfile_exception& e) {
        // Opening a directory may succeed on this platform; reading from it never does.
        const std::string what = e.what();
        EXPECT_TRUE(what == dir.string() + " - I/O error reading from input" ||
                    what == "Cannot open file '" + dir.string() + "' for reading")
            << what;
    }
}

TEST(Vxapp, NoImageToLoadInto) {
    EXPECT_THROW(vxapp_file_reader().loadDataBuffer("h\n:000032000401020304C0\n", nullptr, true), pgmfile_exception);
}

}  // namespace
