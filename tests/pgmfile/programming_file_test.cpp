#include "PgmFile/programming_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <numeric>
#include <random>

using morvane::pgmfile::pgmfile_exception;
using morvane::pgmfile::programming_file;

namespace {

constexpr unsigned long AllOnes = std::numeric_limits<unsigned long>::max();

std::vector<unsigned char> bytes(unsigned long n, unsigned char value) { return std::vector<unsigned char>(n, value); }

std::vector<std::pair<unsigned long, unsigned long>> layout(const programming_file& f) {
    std::vector<std::pair<unsigned long, unsigned long>> out;
    for (auto s : f.getSections()) out.emplace_back(s, f.getSectionSize(s));
    return out;
}

// ---- addData -------------------------------------------------------------------------

struct Add {
    unsigned long address;
    unsigned long length;
};

struct AddCase {
    const char* name;
    std::vector<Add> adds;
    std::vector<std::pair<unsigned long, unsigned long>> sections;  // after the last good add
    const char* error;  // of the last add, or nullptr when every add succeeds
};

class AddDataTable : public ::testing::TestWithParam<AddCase> {};

TEST_P(AddDataTable, LayoutBytesAndFailures) {
    const AddCase& c = GetParam();
    programming_file f("img.vxapp", "vxapp");
    std::map<unsigned long, unsigned char> model;  // address -> byte, for the successful adds
    for (std::size_t i = 0; i < c.adds.size(); ++i) {
        const auto value = static_cast<unsigned char>(i + 1);
        const Add& a = c.adds[i];
        const bool last = i + 1 == c.adds.size();
        if (last && c.error) {
            const programming_file before = f;
            try {
                f.addData(a.address, bytes(a.length, value));
                FAIL() << "no error";
            } catch (const pgmfile_exception& e) {
                EXPECT_STREQ(e.what(), c.error);
            }
            EXPECT_TRUE(f == before) << "a failed add changed the image";
            EXPECT_EQ(layout(f), layout(before));
        } else {
            f.addData(a.address, bytes(a.length, value));
            for (unsigned long k = 0; k < a.length; ++k) model[a.address + k] = value;
        }
    }
    EXPECT_EQ(layout(f), c.sections);
    for (const auto& [address, value] : model) ASSERT_EQ(f[address], value) << std::hex << address;
}

const char* const Overlap = "Invalid programming file - data segment overlap existing segments";

INSTANTIATE_TEST_SUITE_P(
    ProgrammingFile, AddDataTable,
    ::testing::Values(
        AddCase{"FirstSection", {{0x10, 0x10}}, {{0x10, 0x10}}, nullptr},
        AddCase{"AdjacentAbove", {{0x10, 0x10}, {0x20, 0x10}}, {{0x10, 0x20}}, nullptr},
        AddCase{"AdjacentAboveThenBelow", {{0x10, 0x10}, {0x20, 0x10}, {0x00, 0x10}}, {{0x00, 0x30}}, nullptr},
        AddCase{"GapFilledMergesThree", {{0x10, 0x10}, {0x30, 0x10}, {0x20, 0x10}}, {{0x10, 0x30}}, nullptr},
        AddCase{"GapFilledInReverse", {{0x30, 0x10}, {0x10, 0x10}, {0x20, 0x10}}, {{0x10, 0x30}}, nullptr},
        AddCase{"SeparateSectionsSorted",
                {{0x40, 0x10}, {0x10, 0x10}, {0x28, 0x04}},
                {{0x10, 0x10}, {0x28, 0x04}, {0x40, 0x10}},
                nullptr},
        AddCase{"OverwriteInside", {{0x10, 0x20}, {0x14, 0x04}}, {{0x10, 0x20}}, nullptr},
        AddCase{"OverwriteWhole", {{0x10, 0x20}, {0x10, 0x20}}, {{0x10, 0x20}}, nullptr},
        AddCase{"OverwriteLastByte", {{0x10, 0x20}, {0x2F, 0x01}}, {{0x10, 0x20}}, nullptr},
        AddCase{"StickOutBelow", {{0x10, 0x10}, {0x08, 0x0C}}, {{0x10, 0x10}}, Overlap},
        AddCase{"StickOutAbove", {{0x10, 0x10}, {0x1C, 0x08}}, {{0x10, 0x10}}, Overlap},
        AddCase{"CoverWholeSection", {{0x10, 0x10}, {0x08, 0x20}}, {{0x10, 0x10}}, Overlap},
        AddCase{"LongerRewriteOfSameStart", {{0x10, 0x10}, {0x10, 0x11}}, {{0x10, 0x10}}, Overlap},
        // Touches the lower section and runs into the upper one.
        AddCase{"AppendRunsIntoNext",
                {{0x10, 0x10}, {0x28, 0x08}, {0x20, 0x0C}},
                {{0x10, 0x10}, {0x28, 0x08}},
                Overlap},
        // Touches the upper section and starts inside the lower one.
        AddCase{"PrependStartsInsidePrevious",
                {{0x10, 0x10}, {0x28, 0x08}, {0x1C, 0x0C}},
                {{0x10, 0x10}, {0x28, 0x08}},
                Overlap},
        AddCase{"EmptyData", {{0x10, 0x10}, {0x20, 0}}, {{0x10, 0x10}},
                "No data at address'0x20' in programming file 'img.vxapp'"},
        AddCase{"WrapsPastTopOfAddressSpace", {{AllOnes - 1, 4}}, {},
                "Invalid address '0xfffffffffffffffe' for programming file 'img.vxapp'"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProgrammingFile, MessagesNameUnknownFileWithoutFilename) {
    programming_file f("vxapp");
    try {
        f.addData(0x1234, {});
        FAIL();
    } catch (const pgmfile_exception& e) {
        EXPECT_STREQ(e.what(), "No data at address'0x1234' in programming file '<UNKNOWN>'");
    }
    try {
        (void)f[0x99];
        FAIL();
    } catch (const pgmfile_exception& e) {
        EXPECT_STREQ(e.what(), "Invalid address '0x99' for programming file '<UNKNOWN>'");
    }
}

// Rows arriving in any order give the same image as rows in order.
TEST(ProgrammingFile, InsertionOrderDoesNotMatter) {
    std::vector<unsigned long> rows(3000);
    std::iota(rows.begin(), rows.end(), 0);
    programming_file ordered("vxapp"), shuffled("vxapp"), reversed("vxapp");
    for (auto r : rows) ordered.addData(r << 16, bytes(288, static_cast<unsigned char>(r)));
    std::shuffle(rows.begin(), rows.end(), std::mt19937(42));
    for (auto r : rows) shuffled.addData(r << 16, bytes(288, static_cast<unsigned char>(r)));
    std::sort(rows.rbegin(), rows.rend());
    for (auto r : rows) reversed.addData(r << 16, bytes(288, static_cast<unsigned char>(r)));
    EXPECT_TRUE(ordered == shuffled);
    EXPECT_TRUE(ordered == reversed);
    EXPECT_EQ(ordered.getSections().size(), 3000u);
    EXPECT_EQ(shuffled.findEntryByAddress((1234ul << 16) + 5), 1234);
}

// ---- queries -------------------------------------------------------------------------

// Sections [0x10, 0x20) and [0x30, 0x40), bytes equal to the low address byte.
struct TwoSections : ::testing::Test {
    programming_file f{"two.vxapp", "vxapp"};
    void SetUp() override {
        for (unsigned long base : {0x10ul, 0x30ul}) {
            std::vector<unsigned char> d(0x10);
            std::iota(d.begin(), d.end(), static_cast<unsigned char>(base));
            f.addData(base, d);
        }
    }
};

struct RangeCase {
    unsigned long address, length;
    std::list<unsigned long> withData;
    std::list<unsigned long> withStart;
};

void PrintTo(const RangeCase& c, std::ostream* os) { *os << std::hex << "[0x" << c.address << " +0x" << c.length << "]"; }

class DataInRange : public TwoSections, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(DataInRange, Lists) {
    const auto& c = GetParam();
    EXPECT_EQ(f.getSectionsWithDataInRange(c.address, c.length), c.withData);
    EXPECT_EQ(f.hasSectionsWithDataInRange(c.address, c.length), !c.withData.empty());
    EXPECT_EQ(f.getSectionsWithStartInRange(c.address, c.length), c.withStart);
}

INSTANTIATE_TEST_SUITE_P(
    ProgrammingFile, DataInRange,
    ::testing::Values(RangeCase{0x00, 0x100, {0x10, 0x30}, {0x10, 0x30}},
                      RangeCase{0x00, 0x10, {}, {}},         // ends where the first section starts
                      RangeCase{0x00, 0x11, {0x10}, {0x10}},
                      RangeCase{0x20, 0x04, {0x10}, {}},     // the first section ends exactly at 0x20
                      RangeCase{0x21, 0x0F, {}, {}},         // inside the gap
                      RangeCase{0x18, 0x20, {0x10, 0x30}, {0x30}},
                      RangeCase{0x18, 0, {}, {}},            // no bytes, no sections
                      RangeCase{0x40, 0x10, {0x30}, {}},
                      RangeCase{0x41, 0x10, {}, {}},
                      RangeCase{0x00, AllOnes, {0x10, 0x30}, {0x10, 0x30}}));

TEST_F(TwoSections, DataInRangeLengthPastTopThrows) {
    EXPECT_NO_THROW(f.getSectionsWithDataInRange(0x10, AllOnes));
    try {
        f.hasSectionsWithDataInRange(0x10, AllOnes);
        FAIL();
    } catch (const pgmfile_exception& e) {
        EXPECT_STREQ(e.what(), "Invalid data in ZOR view file");
    }
}

TEST_F(TwoSections, SectionLookups) {
    EXPECT_EQ(f.getSections(), (std::vector<unsigned long>{0x10, 0x30}));
    EXPECT_EQ(f.getSectionSize(0x10), 0x10u);
    EXPECT_EQ(f.getSectionSize(0x11), AllOnes);
    EXPECT_TRUE(f.doesSectionExist(0x30));
    EXPECT_FALSE(f.doesSectionExist(0x31));
    EXPECT_TRUE(f.doesSectionExist(0x30, 0x10));
    EXPECT_FALSE(f.doesSectionExist(0x30, 0x0F));
    EXPECT_EQ(f.findEntryByAddress(0x10), 0);
    EXPECT_EQ(f.findEntryByAddress(0x1F), 0);
    EXPECT_EQ(f.findEntryByAddress(0x20), -1);
    EXPECT_EQ(f.findEntryByAddress(0x3F), 1);
    EXPECT_EQ(f.findEntryByAddress(0x0F), -1);
}

TEST_F(TwoSections, AddressRanges) {
    EXPECT_TRUE(f.hasAddressRange(0x10, 0x10));
    EXPECT_TRUE(f.hasAddressRange(0x18, 0x08));
    EXPECT_FALSE(f.hasAddressRange(0x18, 0x09));
    EXPECT_FALSE(f.hasAddressRange(0x20, 0x01));
    EXPECT_FALSE(f.hasAddressRange(0x18, AllOnes));  // the end would wrap
    EXPECT_TRUE(f.hasAddressRange(0x31, 0x34, 0x0C));
    EXPECT_FALSE(f.hasAddressRange(0x31, 0x34, 0x0D));
    EXPECT_FALSE(f.hasAddressRange(0x31, 0x2F, 0x02));  // starts before the section
    EXPECT_FALSE(f.hasAddressRange(0x31, 0x14, 0x01));  // in another section
    EXPECT_FALSE(f.hasAddressRange(0x25, 0x25, 0x01));  // no section holds 0x25
    EXPECT_FALSE(f.hasAddressRange(0x10, 0x14, AllOnes));
}

TEST_F(TwoSections, ReadingBytes) {
    EXPECT_EQ(f[0x10], 0x10);
    EXPECT_EQ(f[0x3F], 0x3F);
    EXPECT_EQ(f.getData(0x35).size(), 0x10u);
    EXPECT_EQ(f.getData(0x35).front(), 0x30);
    EXPECT_EQ(f.getData(0x14, 3), (std::vector<unsigned char>{0x14, 0x15, 0x16}));
    EXPECT_TRUE(f.getData(0x1E, 3).empty());  // runs past the section
    EXPECT_TRUE(f.getData(0x14, 0).empty());
    EXPECT_TRUE(f.getData(0x24, 1).empty());
    EXPECT_TRUE(f.getData(0x14, AllOnes).empty());
}

TEST_F(TwoSections, AddressesOutsideEverySectionThrow) {
    for (unsigned long a : {0x00ul, 0x0Ful, 0x20ul, 0x2Ful, 0x40ul, AllOnes}) {
        EXPECT_THROW((void)f[a], pgmfile_exception) << a;
        EXPECT_THROW((void)f.getData(a), pgmfile_exception) << a;
    }
    try {
        (void)f.getData(0x20);
        FAIL();
    } catch (const pgmfile_exception& e) {
        EXPECT_STREQ(e.what(), "Invalid address '0x20' for programming file 'two.vxapp'");
    }
}

TEST_F(TwoSections, SectionDataInRange) {
    unsigned long start = 0;
    std::vector<unsigned char> out;
    f.getSectionDataInRange(0x10, 0x18, 0x100, start, out);
    EXPECT_EQ(start, 0x18u);
    EXPECT_EQ(out, (std::vector<unsigned char>{0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F}));
    f.getSectionDataInRange(0x30, 0x00, 0x32, start, out);
    EXPECT_EQ(start, 0x30u);
    EXPECT_EQ(out, (std::vector<unsigned char>{0x30, 0x31}));
    // A section that ends where the range starts is listed by getSectionsWithDataInRange,
    // but has no bytes in it.
    f.getSectionDataInRange(0x10, 0x20, 0x10, start, out);
    EXPECT_EQ(start, 0x20u);
    EXPECT_TRUE(out.empty());
    f.getSectionDataInRange(0x30, 0x10, 0x10, start, out);
    EXPECT_TRUE(out.empty());
    // No section starts there: both untouched.
    start = 77;
    out = {1, 2};
    f.getSectionDataInRange(0x11, 0x10, 0x10, start, out);
    EXPECT_EQ(start, 77u);
    EXPECT_EQ(out, (std::vector<unsigned char>{1, 2}));
}

TEST_F(TwoSections, ShiftMovesEverySection) {
    f.shiftSectionAddresses(0);
    EXPECT_EQ(f.getSections(), (std::vector<unsigned long>{0x10, 0x30}));
    f.shiftSectionAddresses(0x100000000ul);
    EXPECT_EQ(f.getSections(), (std::vector<unsigned long>{0x100000010ul, 0x100000030ul}));
    EXPECT_EQ(f[0x100000031ul], 0x31);
    const programming_file before = f;
    EXPECT_THROW(f.shiftSectionAddresses(AllOnes - 0x100000030ul), pgmfile_exception);
    EXPECT_EQ(f.getSections(), before.getSections());
}

// ---- properties and comparison -------------------------------------------------------

TEST(ProgrammingFile, Properties) {
    programming_file named("/fw/tl3.vxapp", "vxapp");
    EXPECT_EQ(named.getProperty(programming_file::TypePropName), "vxapp");
    EXPECT_EQ(named.getProperty("filename"), "/fw/tl3.vxapp");
    EXPECT_EQ(named.getFilename(), boost::filesystem::path("/fw/tl3.vxapp"));
    try {
        named.getProperty(programming_file::CommentPropName);
        FAIL();
    } catch (const std::domain_error& e) {
        EXPECT_STREQ(e.what(), "Property 'comment' is not a valid property name");
    }
    programming_file unnamed("vxapp");
    EXPECT_THROW(unnamed.getFilename(), std::domain_error);
}

TEST(ProgrammingFile, FileTypeFromFilename) {
    struct {
        const char* name;
        const char* type;
    } const table[] = {{"tl3.vxapp", "vxapp"}, {"a.b.VXAPP", "VXAPP"}, {"noext", ""}, {"", ""},
                       {"trailing.", ""},      {"/fw.d/image", ""},     {"/fw.d/image.hex", "hex"}};
    for (const auto& row : table) {
        EXPECT_EQ(programming_file::getFileTypeFromFilename(std::string(row.name)), row.type) << row.name;
        EXPECT_EQ(programming_file::getFileTypeFromFilename(row.name), row.type) << row.name;
        EXPECT_EQ(programming_file::getFileTypeFromFilename(boost::filesystem::path(row.name)), row.type) << row.name;
    }
}

TEST(ProgrammingFile, EqualityComparesSectionsOnly) {
    auto a = std::make_shared<programming_file>("a.vxapp", "vxapp");
    auto b = std::make_shared<programming_file>("b.vxapp", "other");
    a->addData(0x10, bytes(4, 1));
    b->addData(0x10, bytes(4, 1));
    EXPECT_TRUE(*a == *b);
    EXPECT_TRUE(a == b);
    b->addData(0x12, bytes(1, 2));
    EXPECT_TRUE(*a != *b);
    EXPECT_FALSE(a == b);
    programming_file c("vxapp");
    c.addData(0x10, bytes(5, 1));  // same start, other size
    EXPECT_TRUE(*a != c);
    std::shared_ptr<programming_file> none, none2;
    EXPECT_TRUE(none == none2);
    EXPECT_FALSE(a == none);
    EXPECT_FALSE(none == a);
}

}  // namespace
