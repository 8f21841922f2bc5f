// The image readers on any bytes. The first byte picks the kind (bits 0-1)
// and, for a D64 image, its size (bits 2-3): the disk is the rest of the
// input repeated sector by sector, since no input comes near a disk's size.
// Whatever is read must keep the promises of ImageProgram.
#include "image/image_read.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const auto kind = static_cast<ImageKind>(data[0] & 3);
    std::string bytes(reinterpret_cast<const char *>(data) + 1, size - 1);
    if (kind == ImageKind::d64 && !bytes.empty()) {
        constexpr std::size_t sizes[] = {174848, 175531, 196608, 197376};
        const std::size_t sectors = (bytes.size() + 255) / 256;
        bytes.resize(sectors * 256);
        std::string disk(sizes[data[0] >> 2 & 3], '\0');
        for (std::size_t at = 0; at < disk.size(); at += 256)
            disk.replace(at, 256, bytes, at / 256 % sectors * 256, 256);
        bytes = disk;
    }
    const ImageRead read = image_read(kind, "fuzz.prg", bytes);
    if (read.refusal.empty() == read.programs.empty())
        std::abort();
    for (const ImageProgram &p : read.programs)
        if (p.name.size() > 16 || p.bytes.empty() || p.load + p.bytes.size() > 0x10000)
            std::abort();
    return 0;
}
