#include "image/image_tape.h"

#include "tape/tape_scan.h"

#include <algorithm>
#include <array>

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

std::vector<IdxRecord> image_tape_records(const std::vector<ImageProgram> &programs,
                                          const TapFastTape &tape)
{
    std::vector<IdxRecord> records;
    for (std::size_t i = 0; i < programs.size() && i < tape.leaders.size(); ++i) {
        std::array<unsigned char, 16> name;
        name.fill(' ');
        std::copy_n(programs[i].name.begin(), std::min(programs[i].name.size(), name.size()),
                    name.begin());
        records.push_back({std::int32_t(tape.leaders[i]), tape_name_text(name)});
    }
    return records;
}
