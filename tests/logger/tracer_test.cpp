#include "Logger/tracer.h"
#include "support/capture_sink.h"

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>

using morvane::logger::logmgr;
using morvane::logger::logmsg;
using morvane::logger::tracer;
using T = logmsg::msgtype;

namespace {

struct TracerFixture : ::testing::Test {
    logmgr log;
    std::shared_ptr<pavix_test::capture_sink> sink = std::make_shared<pavix_test::capture_sink>();
    void SetUp() override {
        log.setSink(T::Debug, sink);
        log.setSink(T::Info, sink);
        log.setLevel(T::Debug, 0x2);
        log.setSink(T::Trace, sink);
    }
};

TEST_F(TracerFixture, NestedScopesIndentAndTime) {
    tracer tr(log, std::string("devmgr"));
    {
        auto outer = tr.enterexit("outer");
        { auto inner = tr.enterexit("inner"); }
    }
    auto lines = sink->lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Debug: > outer\r\n");
    EXPECT_EQ(lines[1], "Debug:   > inner\r\n");
    EXPECT_TRUE(std::regex_match(lines[2], std::regex("Debug:   < inner \\([0-9]+ ms\\)\r\n"))) << lines[2];
    EXPECT_TRUE(std::regex_match(lines[3], std::regex("Debug: < outer \\([0-9]+ ms\\)\r\n"))) << lines[3];
    EXPECT_EQ(morvane::logger::ident_lvl.load(), 0);
}

TEST_F(TracerFixture, ExitLineWrittenOnException) {
    tracer tr(log, "devmgr");
    try {
        auto s = tr.enterexit("throws");
        throw std::runtime_error("x");
    } catch (const std::runtime_error&) {
    }
    ASSERT_EQ(sink->lines().size(), 2u);
    EXPECT_EQ(sink->lines()[1].rfind("Debug: < throws (", 0), 0u);
}

TEST_F(TracerFixture, TraceScopeLeavesIndentationAlone) {
    tracer tr(log, "devmgr");
    morvane::logger::ident_lvl = 4;
    { auto s = tr.trace("t"); }
    EXPECT_EQ(morvane::logger::ident_lvl.load(), 4);
    morvane::logger::ident_lvl = 0;
    EXPECT_EQ(sink->lines().at(0), "Trace: > t\r\n");
}

TEST_F(TracerFixture, KeepsItsOwnCopyOfTheModuleName) {
    auto* name = new std::string("temporary-module");
    tracer tr(log, *name);
    delete name;  // a tracer that kept a pointer would now read freed memory (ASan)
    log.setIncludedModules(T::Debug, {"temporary-module"});
    { auto s = tr.enterexit("op"); }
    EXPECT_EQ(sink->lines().size(), 2u);
}

TEST_F(TracerFixture, DmsgWritesOneDebugLine) {
    tracer tr(log, "devmgr");
    std::string text = "hello";
    tr.dmsg(2, text);
    tr.dmsg(1, "hidden: category 1 not enabled");
    EXPECT_EQ(sink->lines(), std::vector<std::string>{"Debug: hello\r\n"});
}

TEST_F(TracerFixture, FormattedNamesMakeTraceScopes) {
    tracer tr(log, "devmgr");
    // A format keeps references to its arguments: they must outlive it.
    const int count = 16, address = 255, step = 3;
    boost::locale::format f("read {1} bytes at {2,num=hex}");
    f % count % address;
    { auto s = tr.enterexit(f); }
    boost::locale::format g("step {1}");
    g % step;
    { auto s = tr.trace(g); }
    auto lines = sink->lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Trace: > read 16 bytes at ff\r\n");
    EXPECT_EQ(lines[1].rfind("Trace: < read 16 bytes at ff (", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], "Trace: > step 3\r\n");
    EXPECT_EQ(morvane::logger::ident_lvl.load(), 0);
}

TEST(TracerDeath, DmsgLevelOutsideOneToThreeStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    logmgr log;
    tracer tr(log, "devmgr");
    for (int level : {0, 4, -1}) {
        SCOPED_TRACE(level);
        EXPECT_DEATH(tr.dmsg(level, "x"), "level > 0 && level < 4");
    }
}

}  // namespace
