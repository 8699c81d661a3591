#include "Logger/logmgr.h"
#include "Logger/modules.h"
#include "support/capture_sink.h"

#include <gtest/gtest.h>

#include <stdexcept>

using morvane::logger::logmgr;
using morvane::logger::logmsg;
using T = logmsg::msgtype;

namespace {

struct LogFixture : ::testing::Test {
    logmgr log;
    std::shared_ptr<pavix_test::capture_sink> sink = std::make_shared<pavix_test::capture_sink>();
};

struct FilterCase {
    T sinkType;
    int threshold;
    T msgType;
    int level;
    bool delivered;
};

class LogFilter : public ::testing::TestWithParam<FilterCase> {};

TEST_P(LogFilter, DeliversExactlyWhenVisible) {
    const FilterCase c = GetParam();
    logmgr log;
    auto sink = std::make_shared<pavix_test::capture_sink>();
    log.setSink(c.sinkType, sink);
    // setLevel only sets the threshold of an entry that exists already.
    log.setLevel(c.sinkType, c.threshold);
    log << logmsg("devmgr", c.msgType, c.level) << "x" << logmgr::end;
    EXPECT_EQ(sink->lines().size(), c.delivered ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogFilter,
    ::testing::Values(
        FilterCase{T::Debug, 0xFF, T::Debug, 0, false},  // debug level 0 never passes
        FilterCase{T::Debug, 0x4, T::Debug, 3, true},    // bit 2 set
        FilterCase{T::Debug, 0x3, T::Debug, 3, false},   // bit 2 clear
        FilterCase{T::Debug, 0x1, T::Debug, 1, true},
        FilterCase{T::Debug, 0x1, T::Debug, 2, false},   // entry/exit traces stay hidden
        FilterCase{T::Debug, -1, T::Debug, 40, false},   // beyond the mask width
        FilterCase{T::Info, 0, T::Info, 1, false},
        FilterCase{T::Info, 1, T::Info, 1, true},
        FilterCase{T::Info, 0, T::Info, 0, true},
        FilterCase{T::Error, 0, T::Error, 0, true},
        FilterCase{T::Error, 0, T::Warning, 0, false},   // no entry for the type
        FilterCase{T::Warning, 5, T::Warning, 6, false}));

TEST_F(LogFixture, LineFormatOfEachType) {
    for (T t : {T::Debug, T::Info, T::Plain, T::Trace, T::Warning, T::Error}) log.setSink(t, sink);
    log.setLevel(T::Debug, 1);
    log << logmsg("pavix", T::Info, 0) << "Start API initialization" << logmgr::end;
    log << logmsg("pavix", T::Plain, 0) << "abc" << logmgr::end;
    log << logmsg("pavix", T::Debug, 1) << "d" << logmgr::end;
    log << logmsg("pavix", T::Error, 0) << "Error =  " << "boom" << logmgr::end;
    auto lines = sink->lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Info: Start API initialization\r\n");
    EXPECT_EQ(lines[1], "abc\r\n");
    EXPECT_EQ(lines[2], "Debug: d\r\n");
    EXPECT_EQ(lines[3], "Error: Error =  boom\r\n");
}

TEST_F(LogFixture, ContextLineAndColumnInPrefix) {
    log.setSink(T::Warning, sink);
    logmsg m("devmgr", T::Warning, 0);
    m.setContext("x");
    m.setLine(12);
    m.setColumn(3);
    log << m << "w" << logmgr::end;
    EXPECT_EQ(sink->lines().at(0), "Warning: x line: 12 col: 3: w\r\n");
}

TEST_F(LogFixture, HexSurvivesIntoNextMessageUntilDec) {
    log.setSink(T::Info, sink);
    log << logmsg("devmgr", T::Info, 0) << logmgr::hex << 255 << " " << 16 << logmgr::end;
    log << logmsg("devmgr", T::Info, 0) << 255 << " " << -1 << logmgr::end;
    log << logmsg("devmgr", T::Info, 0) << logmgr::dec << 255 << " " << -1 << " " << 1.5 << logmgr::end;
    auto lines = sink->lines();
    EXPECT_EQ(lines[0], "Info: ff 10\r\n");
    EXPECT_EQ(lines[1], "Info: ff ffffffff\r\n");
    EXPECT_EQ(lines[2], "Info: 255 -1 1.5\r\n");
}

TEST_F(LogFixture, FlushDeliversWithoutLineEndAndEndsMessage) {
    log.setSink(T::Info, sink);
    log << logmsg("devmgr", T::Info, 0) << "partial" << logmgr::flush;
    log << "ignored: no message in progress" << logmgr::end;
    ASSERT_EQ(sink->lines().size(), 1u);
    EXPECT_EQ(sink->lines()[0], "Info: partial");
}

TEST_F(LogFixture, ModuleScope) {
    log.setSink(T::Info, sink);
    log.setIncludedModules(T::Info, {"pavix"});
    log << logmsg("devmgr", T::Info, 0) << "hidden" << logmgr::end;
    log << logmsg("pavix", T::Info, 0) << "shown" << logmgr::end;
    log.setIncludedModules(T::Info, {});
    log.setExcludedModules(T::Info, {"pavix"});
    log << logmsg("pavix", T::Info, 0) << "hidden" << logmgr::end;
    log << logmsg("devmgr", T::Info, 0) << "shown" << logmgr::end;
    EXPECT_EQ(sink->lines(), (std::vector<std::string>{"Info: shown\r\n", "Info: shown\r\n"}));
}

TEST_F(LogFixture, InvalidTypesThrow) {
    EXPECT_THROW(log.removeSink(static_cast<T>(0)), std::domain_error);
    EXPECT_THROW(log.setSink(static_cast<T>(7), sink), std::domain_error);
    try {
        log.setLevel(static_cast<T>(-1), 1);
        FAIL();
    } catch (const std::domain_error& e) {
        EXPECT_STREQ(e.what(), "Invalid message type to setLevel method");
    }
}

TEST_F(LogFixture, SetLevelOnMissingEntryCreatesItWithThresholdZero) {
    log.setLevel(T::Info, 5);
    log.setSink(T::Info, sink);
    log << logmsg("pavix", T::Info, 1) << "level 1" << logmgr::end;
    log << logmsg("pavix", T::Info, 0) << "level 0" << logmgr::end;
    EXPECT_EQ(sink->lines(), std::vector<std::string>{"Info: level 0\r\n"});
}

// A sink that logs from inside the sink on the same thread must neither deadlock nor damage
// the line being delivered.
class reentrant_sink : public morvane::logger::logsink {
public:
    explicit reentrant_sink(logmgr& log) : m_log(log) {}
    void putString(const logmsg& msg, const std::string& line) override {
        lines.push_back(line);
        if (lines.size() == 1) m_log << logmsg("pavix", T::Info, 0) << "from sink" << logmgr::end;
    }
    std::vector<std::string> lines;

private:
    logmgr& m_log;
};

TEST(LogReentrancy, SinkMayLogOnSameThread) {
    logmgr log;
    auto sink = std::make_shared<reentrant_sink>(log);
    log.setSink(T::Info, sink);
    log << logmsg("pavix", T::Info, 0) << "outer" << logmgr::end;
    log << logmsg("pavix", T::Info, 0) << "next" << logmgr::end;
    EXPECT_EQ(sink->lines,
              (std::vector<std::string>{"Info: outer\r\n", "Info: from sink\r\n", "Info: next\r\n"}));
}

TEST_F(LogFixture, AbandonedChainIsReplacedByNextHeader) {
    log.setSink(T::Info, sink);
    log << logmsg("pavix", T::Info, 0) << "cut short by an exception";
    log << logmsg("pavix", T::Info, 0) << "whole" << logmgr::end;
    EXPECT_EQ(sink->lines(), std::vector<std::string>{"Info: whole\r\n"});
}

TEST(LogModules, Names) {
    using namespace morvane::modules;
    EXPECT_EQ(Devmgr, "devmgr");
    EXPECT_EQ(Tl2, "Tallvex2");
    EXPECT_EQ(SupportedModules.size(), 5u);
    EXPECT_EQ(SupportedModules.count("Tallvex2"), 0u);
}

}  // namespace
