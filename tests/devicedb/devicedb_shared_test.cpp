#include "devicedb/devicedb_test_util.h"

#include "DeviceMgr/api/devmgr_exception.h"

#include <gtest/gtest.h>

#include <thread>

using morvane::devicemgrapi::devmgr_exception;
using morvane::devices::devicedb;
using namespace pavix_test;

namespace {

// Each case runs in its own process, so the process-wide database starts empty every time.

TEST(devicedb_shared, TwoThreadsStartingTogetherShareOneLoad) {
    captured_log log1, log2;
    std::shared_ptr<devicedb> a, b;
    std::thread t1([&] { a = devicedb::shared(log1.log, shippedDatabase(), shippedSchema()); });
    std::thread t2([&] { b = devicedb::shared(log2.log, shippedDatabase(), shippedSchema()); });
    t1.join();
    t2.join();
    ASSERT_TRUE(a);
    EXPECT_EQ(a, b);
    EXPECT_EQ(devicedb::shared(log1.log, "ignored.xml", "ignored.xsd"), a);
}

TEST(devicedb_shared, AFailedLoadIsNotRemembered) {
    captured_log log;
    temp_dir dir;
    EXPECT_THROW(devicedb::shared(log.log, shippedDatabase(), dir.path() / "absent.xsd"), devmgr_exception);
    auto db = devicedb::shared(log.log, shippedDatabase(), shippedSchema());
    ASSERT_TRUE(db);
    EXPECT_FALSE(db->getDevices().empty());
}

// Separate databases may load on several threads at once (the platform start and end are
// serialised inside); each one gets the whole file.
TEST(devicedb_shared, IndependentLoadsRunConcurrently) {
    std::vector<std::thread> threads;
    std::vector<size_t> counts(4, 0);
    for (size_t i = 0; i < counts.size(); ++i)
        threads.emplace_back([&, i] {
            captured_log log;
            devicedb db(log.log, shippedDatabase(), shippedSchema());
            counts[i] = db.getDevices().size();
        });
    for (auto& t : threads) t.join();
    for (size_t c : counts) EXPECT_EQ(c, counts.front());
    EXPECT_GT(counts.front(), 0u);
}

}  // namespace
