#include "DeviceMgr/param_db.h"

#include <gtest/gtest.h>

#include <stdexcept>

using morvane::devices::param_db;
using morvane::devices::scoped_param;

TEST(ParamDb, AbsentKeyReadsEmptyAndIsNotInserted) {
    param_db db;
    EXPECT_EQ(db.get("quick_start"), "");
    EXPECT_FALSE(db.has("quick_start"));
    db.set("quick_start", "");
    EXPECT_TRUE(db.has("quick_start"));  // presence counts, whatever the value
}

TEST(ParamDb, ScopedParamIsErasedOnEveryExit) {
    param_db db;
    try {
        scoped_param p(db, "quick_start", "true");
        EXPECT_EQ(db.get("quick_start"), "true");
        throw std::runtime_error("upgrade failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(db.has("quick_start"));
}
