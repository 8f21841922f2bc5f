#include "image/image_tape.h"

TapRomTape image_make_tape(const std::vector<ImageProgram> &programs)
{
    std::vector<TapRomFile> files;
    for (const ImageProgram &p : programs)
        files.push_back(tape_rom_program(p.load, p.name, p.bytes));
    return tape_rom_make(files, tape_rom_saved());
}
