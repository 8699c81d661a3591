#include "Platform/platform.h"
#include "Platform/version_helper.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using morvane::platform::platform;
using morvane::util::version_helper;

namespace {

TEST(Platform, IsPathRooted) {
    const struct {
        const char* path;
        bool rooted;
    } cases[] = {{"/", true}, {"/usr/lib", true}, {"//x", true}, {"usr/lib", false},
                 {"./firmware", false}, {"", false}, {"~/.morvane/udd", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(platform::isPathRooted(c.path), c.rooted);
        EXPECT_EQ(platform::isPathRooted(boost::filesystem::path(c.path)), c.rooted);
    }
    EXPECT_FALSE(platform::isPathRooted(static_cast<const char*>(nullptr)));
}

TEST(Platform, UddPathLiesBesideTheExecutable) {
    EXPECT_EQ(fs::path(platform::getUddPath()),
              fs::path(platform::getExeFile()).parent_path() / "udd");
}

struct VersionFile : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        char tmpl[] = "/tmp/pavix_version_test_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

TEST_F(VersionFile, FirstWordOfTheFirstLine) {
    const struct {
        std::string content;
        std::string version;
    } cases[] = {
        {"1.4.2\n", "1.4.2"},
        {"   2.0.7 build 3\nsecond line\n", "2.0.7"},
        {"\t3.1\r\n", "3.1"},
        {"4.0.0", "4.0.0"},
        {"", ""},
        {"\n5.0\n", ""},
        {"   \n", ""},
        {std::string("6.1\0garbage", 11) + "\n", std::string("6.1\0garbage", 11)},
        {std::string(100000, 'v') + " tail", std::string(100000, 'v')},
    };
    const fs::path file = dir / "tallvex3.version";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content.substr(0, 40));
        std::ofstream(file, std::ios::binary | std::ios::trunc) << c.content;
        std::string version = "stale", error = "stale";
        version_helper::readVersionFromFile(file.string(), version, error);
        EXPECT_EQ(version, c.version);
        EXPECT_EQ(error, "");
    }
}

TEST_F(VersionFile, UnreadableFileReportsThroughErrorOnly) {
    const fs::path paths[] = {dir / "missing.version", dir};
    for (const auto& p : paths) {
        SCOPED_TRACE(p.string());
        std::string version = "stale", error;
        EXPECT_NO_THROW(version_helper::readVersionFromFile(p.string(), version, error));
        EXPECT_EQ(version, "");
        EXPECT_EQ(error, "Cannot open version file '" + p.string() + "' for reading");
    }
}

}  // namespace
