#include "Logger/logmgr.h"
#include "Logger/tracer.h"
#include "support/capture_sink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using morvane::logger::logmgr;
using morvane::logger::logmsg;
using T = logmsg::msgtype;

// Lines built on several threads while the client thread swaps sinks and thresholds: every
// delivered line is whole, and nothing races (run under ThreadSanitizer).
TEST(LogConcurrency, SinkTableChangesWhileThreadsFinishLines) {
    logmgr log;
    auto sink = std::make_shared<pavix_test::capture_sink>();
    log.setSink(T::Info, sink);
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&, t] {
            morvane::logger::tracer tr(log, "devmgr");
            for (int i = 0; i < 2000 && !stop; ++i) {
                auto scope = tr.enterexit("op");
                log << logmsg("devmgr", T::Info, 0) << "thread " << t << " line " << i << logmgr::end;
            }
        });
    }
    for (int i = 0; i < 500; ++i) {
        auto other = std::make_shared<pavix_test::capture_sink>();
        log.setSink(T::Info, (i % 2) ? sink : other);
        log.setLevel(T::Debug, i & 3);
        if (i % 50 == 0) log.removeSink(T::Debug);
        log.setSink(T::Debug, sink);
    }
    stop = true;
    for (auto& w : writers) w.join();
    for (const auto& line : sink->lines()) {
        ASSERT_GE(line.size(), 2u);
        EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    }
}
