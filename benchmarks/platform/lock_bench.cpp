// Cost of the host-wide lock steps and of the executable-path query. The lock runs in a private
// directory with a private semaphore, so the host's real lock is never touched.
#include "Platform/interprocess_manager.h"
#include "Platform/platform.h"

#include <benchmark/benchmark.h>

#include <semaphore.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using morvane::util::interprocess_manager;

namespace {

struct private_host {
    std::string dir;
    std::string sem;
    private_host() {
        char tmpl[] = "/tmp/pavix_lock_bench_XXXXXX";
        if (!::mkdtemp(tmpl)) std::abort();
        dir = tmpl;
        sem = "pavix-ipc-lock-bench-" + std::to_string(::getpid());
        interprocess_manager::host_names n;
        n.lockDirectory = dir;
        n.semaphoreName = sem;
        interprocess_manager::instance().setHostNames(n);
    }
    ~private_host() {
        interprocess_manager::instance().releaseDeviceLock();
        ::sem_unlink(("/" + sem).c_str());
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

private_host& host() {
    static private_host h;
    return h;
}

// Take a free lock and give it back: semaphore open/wait/post/close, open+flock+fstat+stat,
// then unlink+unlock+close.
void BM_LockAndRelease(benchmark::State& state) {
    host();
    auto& ipm = interprocess_manager::instance();
    for (auto _ : state) {
        if (!ipm.lockDevice("TL3-BENCH")) state.SkipWithError("refused");
        ipm.releaseDeviceLock("TL3-BENCH");
    }
}
BENCHMARK(BM_LockAndRelease);

// Ask for a key this process already holds (answered before the lock file is touched).
void BM_LockOwnKeyAgain(benchmark::State& state) {
    host();
    auto& ipm = interprocess_manager::instance();
    ipm.lockDevice("TL3-HELD");
    for (auto _ : state) benchmark::DoNotOptimize(ipm.lockDevice("TL3-HELD"));
    ipm.releaseDeviceLock("TL3-HELD");
}
BENCHMARK(BM_LockOwnKeyAgain);

void BM_GetExeFile(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(morvane::platform::platform::getExeFile());
}
BENCHMARK(BM_GetExeFile);

}  // namespace

BENCHMARK_MAIN();
