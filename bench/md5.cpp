// The speed of UpdateMany's kernels against UpdateBoth, built and run by bench/md5: GB/s of
// digested bytes (every stream's bytes counted), the median of ROUNDS, each case timed in turn
// in every round so that a neighbour's load and the processor's clock fall on all of them alike;
// and each case's ratio to the first of its group.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/recovery/md5_pair.h"

using namespace splitter::par2;

namespace {

// The thread's processor time: what another program's share of the processor does not count.
double Seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Case {
    std::string name;
    double bytes;
    std::function<void()> run;
    std::vector<double> seconds;
};

}  // namespace

int main(int argc, char** argv) {
    const std::size_t n = (argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 4096) << 10;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
    std::vector<std::vector<unsigned char>> buffers(16, std::vector<unsigned char>(n));
    std::mt19937 random(1);
    for (auto& buffer : buffers)
        for (auto& byte : buffer) byte = static_cast<unsigned char>(random());
    std::vector<Md5Stream> streams(16);
    const auto many = [&](Md5Kernel kernel, bool pairs) {
        std::vector<Md5Job> jobs;
        for (std::size_t i = 0; i < 16; ++i)
            jobs.push_back({&streams[i], buffers[pairs ? i / 2 : i].data(), n});
        UpdateMany(jobs.data(), jobs.size(), kernel);
    };
    const std::pair<Md5Kernel, const char*> kernels[] = {
        {Md5Kernel::kPair, "pair"}, {Md5Kernel::kAvx2, "avx2"}, {Md5Kernel::kAvx512, "avx512"}};
    std::vector<Case> cases;
    cases.push_back({"16 buffers, Update one by one", 16.0 * n, [&] {
                         for (std::size_t i = 0; i < 16; ++i)
                             streams[i].Update(buffers[i].data(), n);
                     }});
    for (const auto& [kernel, name] : kernels)
        if (Supports(kernel))
            cases.push_back({std::string("16 buffers, UpdateMany ") + name, 16.0 * n,
                             [&, kernel = kernel] { many(kernel, false); }});
    cases.push_back({"8 buffers x 2 streams, UpdateBoth", 16.0 * n, [&] {
                         for (std::size_t i = 0; i < 8; ++i)
                             UpdateBoth(streams[2 * i], streams[2 * i + 1], buffers[i].data(), n,
                                        n);
                     }});
    for (const auto& [kernel, name] : kernels)
        if (Supports(kernel))
            cases.push_back({std::string("8 buffers x 2 streams, UpdateMany ") + name, 16.0 * n,
                             [&, kernel = kernel] { many(kernel, true); }});
    for (int r = 0; r < rounds; ++r) {
        for (Case& c : cases) {
            const double start = Seconds();
            c.run();
            c.seconds.push_back(Seconds() - start);
        }
    }
    std::printf("16 streams of %zu KiB each, median of %d rounds\n", n >> 10, rounds);
    double first = 0;
    for (Case& c : cases) {
        std::sort(c.seconds.begin(), c.seconds.end());
        const double rate = c.bytes / c.seconds[c.seconds.size() / 2] / 1e9;
        if (c.name.find("Update") != std::string::npos && c.name.find("Many") == std::string::npos)
            first = rate;
        std::printf("  %-40s %6.2f GB/s  %5.1fx\n", c.name.c_str(), rate, rate / first);
    }
}
