#include "image/image_tape.h"

namespace
{

// Where a BASIC program loads; the kernal marks it relocatable (type 1).
constexpr std::uint16_t basic_start = 0x0801;

} // namespace

TapRomTape image_make_tape(const std::vector<ImageProgram> &programs)
{
    std::vector<TapRomFile> files;
    for (const ImageProgram &p : programs) {
        const unsigned char type = p.load == basic_start ? 1 : 3;
        files.push_back({type, p.load, p.name, p.bytes});
    }
    TapRomOptions options;
    options.pause_after = true;
    options.pause_cycles = tape_clock_hz;
    options.data_pause_cycles = tape_clock_hz / 3;
    options.header_leader = 27136;
    options.data_leader = 5376;
    return tape_rom_make(files, options);
}
