#include "Logger/tracer.h"
#include "support/capture_sink.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

using morvane::logger::logmgr;
using morvane::logger::logmsg;
using T = logmsg::msgtype;

// Nested scopes on several threads share one indentation counter: every line stays well
// formed with an even indentation, and the counter is back at 0 once all scopes have ended.
TEST(TracerConcurrency, SharedIndentationReturnsToZero) {
    logmgr log;
    auto sink = std::make_shared<pavix_test::capture_sink>();
    log.setSink(T::Debug, sink);
    log.setLevel(T::Debug, 0x2);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            morvane::logger::tracer tr(log, "devmgr");
            for (int i = 0; i < 500; ++i) {
                auto outer = tr.enterexit("outer");
                auto inner = tr.enterexit("inner");
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(morvane::logger::ident_lvl.load(), 0);
    const auto lines = sink->lines();
    EXPECT_EQ(lines.size(), 4u * 500u * 4u);
    const std::regex line("Debug: ((  )*)(> (outer|inner)|< (outer|inner) \\([0-9]+ ms\\))\r\n");
    for (const auto& l : lines) ASSERT_TRUE(std::regex_match(l, line)) << l;
}
