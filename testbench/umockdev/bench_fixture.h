#pragma once

// gtest helper: a case declares its virtual probes in a line each.
//
//   class MyTest : public pavix_bench::bench_fixture {};
//   TEST_F(MyTest, Something) {
//       auto probe = plug(pavix_bench::genericHidProbe());
//       auto& fw = probe->modelAs<pavix_bench::generic_model>();
//       ...
//   }
//
// Register the executable with pavix_bench_test(...) so each case runs alone under the
// umockdev preload with a time-out. Outside the preload every case fails at once.

#include "model/families.h"
#include "model/generic_probes.h"
#include "umockdev/mock_env.h"
#include "umockdev/testbed.h"

#include <gtest/gtest.h>

#include <memory>

namespace pavix_bench {

class bench_fixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(inMockEnvironment()) << "bench tests must run under umockdev-wrapper";
        try {
            m_testbed = std::make_unique<testbed>();
        } catch (const std::exception& e) {
            FAIL() << e.what();
        }
    }
    void TearDown() override { m_testbed.reset(); }

    std::shared_ptr<virtual_probe> plug(probe_desc d, std::shared_ptr<firmware_model> model = nullptr) {
        auto p = makeProbe(std::move(d), std::move(model));
        m_testbed->plug(p);
        return p;
    }
    // A probe with the identity of a device record of the shipped device database.
    std::shared_ptr<virtual_probe> plugFamily(const std::string& device, uint16_t pid = 0) {
        return plug(familyProbe(readFamilies(defaultDevdbPath()), device, pid));
    }
    testbed& bench() { return *m_testbed; }

    std::unique_ptr<testbed> m_testbed;
};

}  // namespace pavix_bench
