#include "image/image_tape.h"

#include "tape/tape_rom.h"

#include <utility>

TapFastTape image_make_tape(const std::vector<ImageProgram> &programs, ImageTapeFormat format)
{
    if (format == ImageTapeFormat::fast) {
        std::vector<TapFastFile> files;
        for (const ImageProgram &p : programs)
            files.push_back({p.load, p.name, p.bytes});
        return tape_fast_make(files);
    }
    std::vector<TapRomFile> files;
    for (const ImageProgram &p : programs)
        files.push_back(tape_rom_program(p.load, p.name, p.bytes));
    TapRomTape tape = tape_rom_make(files, tape_rom_saved());
    return {std::move(tape.tap), std::move(tape.leaders), {}};
}
