// How long the tape scanner takes over a one-hour tape of programs saved by
// the ROM loader (about 4 MB), and the tape check and a Time column's worth
// of tape times over the same file.
//
// Run: build/bench/bench_tapscan [scans]
#include "tap_maker.h"
#include "tape/tape_info.h"
#include "tape/tape_scan.h"

#include <glib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace
{

TapRomFile program(int number)
{
    TapRomFile file;
    file.name = "PROGRAM " + std::to_string(number);
    for (int i = 0; i < 8000; ++i)
        file.data.push_back(static_cast<char>(i * 37 + number));
    return file;
}

// Median and best of `scans` runs of `work`, in milliseconds.
void measure(const char *what, int scans, const std::function<void()> &work)
{
    std::vector<double> ms;
    for (int i = 0; i < scans; ++i) {
        const gint64 start = g_get_monotonic_time();
        work();
        ms.push_back(double(g_get_monotonic_time() - start) / 1000.0);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-28s median %7.2f ms, best %7.2f ms (%d runs)\n", what, ms[ms.size() / 2],
                ms.front(), scans);
}

} // namespace

int main(int argc, char **argv)
{
    const int scans = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    TapProgramsOptions options;
    options.drift_percent = 3;
    options.jitter = 3;
    const std::string one = tap_make_programs({program(0)}, options).tap;
    const auto bytes = [](const std::string &s) {
        return reinterpret_cast<const unsigned char *>(s.data());
    };
    const std::uint64_t hour = 3600ull * tape_clock_hz;
    const std::uint64_t per_program = tape_check(bytes(one), one.size()).cycles;
    std::vector<TapRomFile> files;
    while (files.size() * per_program < hour)
        files.push_back(program(int(files.size())));
    const std::string tap = tap_make_programs(files, options).tap;
    const TapeCheck check = tape_check(bytes(tap), tap.size());
    std::printf("Tape: %.2f MB, %zu programs, %s of tape\n", double(tap.size()) / 1e6, files.size(),
                tape_time_text(check.cycles).c_str());

    std::size_t found = 0;
    measure("scan", scans, [&] { found = tape_scan(bytes(tap), tap.size()).size(); });
    if (found != files.size()) {
        std::printf("the scan found %zu programs, not %zu\n", found, files.size());
        return 1;
    }
    measure("check", scans, [&] { (void)tape_check(bytes(tap), tap.size()); });
    std::vector<std::size_t> offsets;
    for (std::size_t at = 20; at < tap.size(); at += tap.size() / 100)
        offsets.push_back(at);
    measure("tape times of 100 offsets", scans,
            [&] { (void)tape_cycles_at_each(bytes(tap), tap.size(), offsets); });
    return 0;
}
