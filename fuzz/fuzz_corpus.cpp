// Writes the starting tapes of fuzz_tape_scan into the folder given: short
// made tapes (leaders of 40 pulses) with headers in both copies, damaged
// copies, noise and both versions, each prefixed by the byte that tells the
// fuzz target to keep the file as it is.
#include "tap_maker.h"

#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "Usage: fuzz_corpus FOLDER\n");
        return 2;
    }
    const TapRomFile files[] = {
        {1, 0x0801, "A", "12345"}, {3, 0xC000, "BAD", "xy"}, {5, 0x033C, "", ""}};
    for (unsigned variant = 0; variant < 4; ++variant) {
        TapProgramsOptions options;
        options.rom.header_leader = options.rom.data_leader = 40;
        options.rom.version = variant & 1;
        options.noise = variant & 2 ? 5 : 0;
        options.jitter = variant;
        options.seed = variant;
        options.bad_first_copies = {1};
        const std::string tap =
            "\x01" + tap_make_programs({std::begin(files), std::end(files)}, options).tap;
        const std::string path = std::string(argv[1]) + "/tape" + std::to_string(variant);
        FILE *out = std::fopen(path.c_str(), "wb");
        if (out == nullptr || std::fwrite(tap.data(), 1, tap.size(), out) != tap.size() ||
            std::fclose(out) != 0) {
            std::perror(path.c_str());
            return 1;
        }
    }
    return 0;
}
