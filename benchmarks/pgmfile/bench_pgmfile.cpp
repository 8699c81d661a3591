// Parse speed of the vxapp reader next to the cost of reading the same file into memory,
// for a realistic upgrade image and a large synthetic one; and the cost of building an
// image row by row in different orders (expected n log n).
#include "PgmFile/vxapp_file_reader.h"
#include "vxapp_gen/vxapp_gen.h"

#include <benchmark/benchmark.h>
#include <boost/filesystem.hpp>

#include <algorithm>
#include <fstream>
#include <numeric>
#include <random>

#include <unistd.h>

using morvane::pgmfile::programming_file;
using morvane::pgmfile::vxapp_file_reader;
namespace gen = pavix_test::vxapp;
namespace fs = boost::filesystem;

namespace {

struct test_image {
    fs::path path;
    std::string text;
    std::size_t rows = 0;
};

// The two images, written once into a temporary directory that is removed at exit.
class images {
public:
    static images& get() {
        static images instance;
        return instance;
    }
    const test_image& operator[](int which) const { return which == 0 ? m_full : m_large; }

    ~images() {
        boost::system::error_code ec;
        fs::remove_all(m_dir, ec);
    }

private:
    images() {
        m_dir = fs::temp_directory_path() / fs::unique_path("pavix-bench-%%%%-%%%%-" + std::to_string(getpid()));
        fs::create_directories(m_dir);
        gen::tallvex_options opt;
        opt.eeprom = true;
        make(m_full, gen::tallvexImage(opt), "full.vxapp");
        make(m_large, gen::syntheticImage(16u << 20), "large.vxapp");
    }
    void make(test_image& out, const gen::image& img, const char* name) {
        out.path = m_dir / name;
        out.text = img.text();
        out.rows = img.goodRows().size();
        img.write(out.path.string());
    }

    fs::path m_dir;
    test_image m_full, m_large;
};

void label(benchmark::State& state, const test_image& img) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * img.text.size()));
    state.counters["rows"] = static_cast<double>(img.rows);
    state.counters["file_MiB"] = static_cast<double>(img.text.size()) / (1 << 20);
    state.SetLabel(state.range(0) == 0 ? "full image" : "16 MiB of rows");
}

void BM_ReadIntoMemory(benchmark::State& state) {
    const auto& img = images::get()[static_cast<int>(state.range(0))];
    for (auto _ : state) {
        std::ifstream in(img.path.string(), std::ios::binary | std::ios::ate);
        std::string text(static_cast<std::size_t>(in.tellg()), '\0');
        in.seekg(0);
        in.read(&text[0], static_cast<std::streamsize>(text.size()));
        benchmark::DoNotOptimize(text.data());
    }
    label(state, img);
}
BENCHMARK(BM_ReadIntoMemory)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_LoadFile(benchmark::State& state) {
    const auto& img = images::get()[static_cast<int>(state.range(0))];
    vxapp_file_reader reader;
    for (auto _ : state) {
        auto f = std::make_shared<programming_file>(img.path.string(), "vxapp");
        reader.loadFile(img.path, f, true);
        benchmark::DoNotOptimize(f.get());
    }
    label(state, img);
}
BENCHMARK(BM_LoadFile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_LoadDataBuffer(benchmark::State& state) {
    const auto& img = images::get()[static_cast<int>(state.range(0))];
    vxapp_file_reader reader;
    for (auto _ : state) {
        auto f = std::make_shared<programming_file>("vxapp");
        reader.loadDataBuffer(img.text, f, true);
        benchmark::DoNotOptimize(f.get());
    }
    label(state, img);
}
BENCHMARK(BM_LoadDataBuffer)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Rows of 288 bytes, 2^16 addresses apart, added ascending (0), descending (1) or shuffled (2).
template <int Order>
void BM_AddRows(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    std::vector<unsigned long> rows(n);
    std::iota(rows.begin(), rows.end(), 0ul);
    if (Order == 1) std::reverse(rows.begin(), rows.end());
    if (Order == 2) std::shuffle(rows.begin(), rows.end(), std::mt19937(1));
    const std::vector<unsigned char> data(gen::FlashRowSize, 0x5A);
    for (auto _ : state) {
        programming_file f("vxapp");
        for (auto r : rows) f.addData(r << 16, data);
        benchmark::DoNotOptimize(&f);
    }
    state.SetComplexityN(static_cast<int64_t>(n));
}
BENCHMARK_TEMPLATE(BM_AddRows, 0)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oNLogN);
BENCHMARK_TEMPLATE(BM_AddRows, 1)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oNLogN);
BENCHMARK_TEMPLATE(BM_AddRows, 2)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oNLogN);

}  // namespace

BENCHMARK_MAIN();
