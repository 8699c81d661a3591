// Runs against the exported library only, the way its clients see it.
#include "Platform/platform.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using morvane::platform::platform;
using morvane::platform::platform_exception;

namespace {

std::string runAndReadLine(const fs::path& program) {
    std::FILE* p = ::popen(program.c_str(), "r");
    if (!p) return "<popen failed>";
    char buf[4096] = {};
    std::string out = std::fgets(buf, sizeof buf, p) ? buf : "";
    ::pclose(p);
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

struct ExeFileFixture : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        char tmpl[] = "/tmp/pavix_exe_test_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    // A copy of the helper program at `where`.
    fs::path placeHelper(const fs::path& where) {
        fs::create_directories(where.parent_path());
        fs::copy_file(EXE_PATH_HELPER, where);
        return where;
    }
};

TEST_F(ExeFileFixture, NamesThisProgram) {
    const std::string exe = platform::getExeFile();
    EXPECT_TRUE(fs::path(exe).is_absolute());
    EXPECT_EQ(fs::path(exe).filename(), "test_platform_exe");
    EXPECT_TRUE(fs::equivalent(exe, "/proc/self/exe"));
}

TEST_F(ExeFileFixture, AProgramElsewhereGetsItsOwnPath) {
    const fs::path copy = placeHelper(dir / "elsewhere" / "bin" / "tool");
    EXPECT_EQ(runAndReadLine(copy), copy.string());
    // Started through a link, the program still learns where it really lies.
    const fs::path link = dir / "link";
    fs::create_symlink(copy, link);
    EXPECT_EQ(runAndReadLine(link), copy.string());
}

// Path lengths around the 1024-byte buffer: the whole path or an error, never a cut text.
TEST_F(ExeFileFixture, LongPathsFitOrFail) {
    const size_t lengths[] = {1000, 1023, 1024, 1500};
    for (size_t len : lengths) {
        SCOPED_TRACE(len);
        fs::path p = dir / std::to_string(len);
        // Pad with directories of at most 200 bytes, then a file name that ends exactly at len.
        while (p.string().size() + 1 + 200 + 1 + 10 < len) p /= std::string(200, 'd');
        const size_t rest = len - p.string().size() - 1;
        ASSERT_GE(rest, 1u);
        p /= std::string(rest, 'f');
        ASSERT_EQ(p.string().size(), len);
        placeHelper(p);
        const std::string out = runAndReadLine(p);
        if (len < 1024)
            EXPECT_EQ(out, p.string());
        else
            EXPECT_EQ(out, "ERR cannot read link '/proc/self/exe'");
    }
}

}  // namespace
