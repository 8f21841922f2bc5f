// How long making the tape of a full 1541 disk takes (cbmconvert writes the
// disk: four programs that use every free block), for the ROM loader and
// fast, the memory it needs, and the tape time of one 40 KB program, which
// the ROM loader makes slow.
//
// Run: build/bench/bench_totap [runs]
#include "image/image_read.h"
#include "image/image_tape.h"
#include "tape/tape_info.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace
{

long peak_kib()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string cycles_text(const std::string &tap)
{
    const auto *data = reinterpret_cast<const unsigned char *>(tap.data());
    return tape_time_text(tape_check(data, tap.size()).cycles);
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    gchar *dir = g_dir_make_tmp("ravelo-bench-XXXXXX", nullptr);
    if (dir == nullptr || g_chdir(dir) != 0)
        return 1;
    // 664 free blocks of 254 bytes: four programs of 166 blocks each.
    std::string names;
    for (int i = 0; i < 4; ++i) {
        std::string prg = "\x01\x08";
        for (int b = 0; b < 166 * 254 - 2; ++b)
            prg.push_back(char(b * 31 + i));
        const std::string name = "part" + std::to_string(i) + ".prg";
        g_file_set_contents(name.c_str(), prg.data(), gssize(prg.size()), nullptr);
        names += " " + name;
    }
    gchar *disk = nullptr;
    gsize size = 0;
    if (std::system(("cbmconvert -D4 full.d64" + names + " >/dev/null 2>&1").c_str()) != 0 ||
        !g_file_get_contents("full.d64", &disk, &size, nullptr)) {
        std::printf("cbmconvert could not make the disk\n");
        return 1;
    }
    const std::string bytes(disk, size);
    g_free(disk);
    if (std::system(("rm -rf " + std::string(dir)).c_str()) != 0)
        std::printf("could not remove %s\n", dir);
    g_free(dir);

    const long before = peak_kib();
    for (const ImageTapeFormat format : {ImageTapeFormat::rom, ImageTapeFormat::fast}) {
        const bool fast = format == ImageTapeFormat::fast;
        std::vector<double> ms;
        TapFastTape tape;
        std::size_t programs = 0;
        for (int i = 0; i < runs; ++i) {
            const gint64 start = g_get_monotonic_time();
            const ImageRead read = image_read(ImageKind::d64, "full.d64", bytes);
            tape = image_make_tape(read.programs, format);
            ms.push_back(double(g_get_monotonic_time() - start) / 1000.0);
            programs = read.programs.size();
        }
        std::sort(ms.begin(), ms.end());
        std::printf("Full disk: %zu programs, %zu bytes of programs -> a %stape of %.1f MB, %s of "
                    "tape\n",
                    programs, std::size_t(4 * (166 * 254 - 4)), fast ? "fast " : "",
                    double(tape.tap.size()) / 1e6, cycles_text(tape.tap).c_str());
        std::printf("%-28s median %7.2f ms, best %7.2f ms (%d runs)\n",
                    fast ? "disk to fast tape" : "disk to tape", ms[ms.size() / 2], ms.front(),
                    runs);
    }
    std::printf("%-28s %ld KiB more than before\n", "peak memory", peak_kib() - before);

    const std::vector<ImageProgram> forty = {{"FORTY", 0x0801, std::string(40 * 1024, '\x5A')}};
    std::printf("%-28s %s of tape, %s fast\n", "one 40 KB program",
                cycles_text(image_make_tape(forty, ImageTapeFormat::rom).tap).c_str(),
                cycles_text(image_make_tape(forty).tap).c_str());
    return 0;
}
