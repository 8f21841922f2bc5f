// The tape scanner, check and tape times on any bytes. An input whose first
// byte is even gets a valid TAP header in front (version 0 or 1 from bit 1),
// so that most runs reach the pulse decoding; an odd one is the whole file.
#include "tape/tape_info.h"
#include "tape/tape_scan.h"

#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size)
{
    std::string file;
    if (size > 0 && (data[0] & 1) == 0) {
        file.assign("C64-TAPE-RAW\0\0\0\0\0\0\0\0", 20);
        file[12] = static_cast<char>((data[0] >> 1) & 1);
        file.append(reinterpret_cast<const char *>(data) + 1, size - 1);
    } else {
        file.assign(reinterpret_cast<const char *>(data), size);
    }
    const auto *bytes = reinterpret_cast<const unsigned char *>(file.data());
    const TapeCheck check = tape_check(bytes, file.size());
    const std::vector<TapeProgram> programs = tape_scan(bytes, file.size());
    std::vector<std::size_t> offsets = {0, file.size(), file.size() + 1, file.size() / 2};
    std::size_t previous = 0;
    for (const TapeProgram &p : programs) {
        // In the data and in tape order.
        if (p.offset < tape_header_size || p.offset >= file.size() || p.offset <= previous ||
            !tape_scannable(check))
            std::abort();
        previous = p.offset;
        offsets.push_back(p.offset);
    }
    const auto times = tape_cycles_at_each(bytes, file.size(), offsets);
    if (times[1] != check.cycles || times[2].has_value())
        std::abort();
    for (std::size_t i = 0; i < programs.size(); ++i)
        if (times[4 + i] != programs[i].cycles)
            std::abort();
    (void)tape_time_text(check.cycles);
    return 0;
}
