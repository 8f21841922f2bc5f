// ravelo-firmware: the placeholder firmware image for tests and the demo,
// and the build's helper for the image a build is given.
//
//   ravelo-firmware generate OUT.hex    write the placeholder image
//   ravelo-firmware check IMAGE.hex     check an image and describe it
//   ravelo-firmware embed IMAGE.hex OUT.cpp
//                                       check an image and write the C++
//                                       source that embeds it
//   ravelo-firmware embed --none OUT.cpp
//                                       the source of a build given no image
//
// The device's real program is not part of this project, and the
// placeholder never goes into a product. It has the layout of the device's
// image (505 records: 502 of 16 data bytes, two of 8, the end record;
// 0x0000-0x1F6F; CR LF; 22,661 bytes) and is harmless: the reset vector
// disables interrupts and jumps to itself, and the rest of the memory holds
// readable text ("Ravelo stub 0010", ...) naming each row's address, so a
// misplaced page shows in a flash dump at a glance.
//
// An image is checked by the rules the client applies to a file the user
// chooses (firmware/hex_image.h); one that breaks them is an error (exit
// status 1).
#include "firmware/hex_image.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{

// The layout of the device's image.
constexpr unsigned image_bytes = 8048; // program memory covered, 0x0000-0x1F6F

// The placeholder's memory contents: a reset vector that parks the CPU,
// then rows of text naming their own address.
std::vector<unsigned char> placeholder_memory()
{
    std::vector<unsigned char> memory(image_bytes);
    for (unsigned row = 0; row < image_bytes; row += 16) {
        char text[17];
        std::snprintf(text, sizeof text, "Ravelo stub %04X", row);
        for (unsigned i = 0; i < 16 && row + i < image_bytes; ++i)
            memory[row + i] = static_cast<unsigned char>(text[i]);
    }
    // cli; rjmp . (0x94F8, 0xCFFF, little-endian words)
    const unsigned char park[] = {0xF8, 0x94, 0xFF, 0xCF};
    for (unsigned i = 0; i < sizeof park; ++i)
        memory[i] = park[i];
    return memory;
}

std::string hex_record(unsigned type, unsigned address, const unsigned char *data, unsigned count)
{
    std::string line = ":";
    char digits[3];
    unsigned sum = 0;
    auto put = [&](unsigned byte) {
        std::snprintf(digits, sizeof digits, "%02X", byte & 0xFF);
        line += digits;
        sum += byte;
    };
    put(count);
    put(address >> 8);
    put(address & 0xFF);
    put(type);
    for (unsigned i = 0; i < count; ++i)
        put(data[i]);
    put((256 - sum % 256) % 256);
    return line + "\r\n";
}

std::string placeholder_image()
{
    const std::vector<unsigned char> memory = placeholder_memory();
    std::string text;
    unsigned address = 0;
    for (unsigned i = 0; i < 502; ++i, address += 16)
        text += hex_record(0x00, address, memory.data() + address, 16);
    for (unsigned i = 0; i < 2; ++i, address += 8)
        text += hex_record(0x00, address, memory.data() + address, 8);
    text += hex_record(0x01, 0, nullptr, 0);
    return text;
}

bool read_file(const char *path, std::string &content)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "ravelo-firmware: cannot read %s\n", path);
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    content = all.str();
    return true;
}

// Writes beside the target and renames, so a failed build leaves no half
// file that a later build would take as up to date.
bool write_file(const char *path, const std::string &content)
{
    const std::string temp = std::string(path) + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << content;
        out.flush();
        if (!out) {
            std::fprintf(stderr, "ravelo-firmware: cannot write %s\n", temp.c_str());
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path) != 0) {
        std::fprintf(stderr, "ravelo-firmware: cannot write %s\n", path);
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

// Checks and reports; true when the image may be used.
bool check_and_report(const char *path, const std::string &text)
{
    const HexImage image = hex_image_check(text);
    if (image.broken != HexRule::none) {
        std::fprintf(stderr, "%s:%zu: error: %s\n", path, image.line, hex_rule_text(image.broken));
        std::fprintf(stderr, "%s: not a firmware image\n", path);
        return false;
    }
    std::printf("%s: %zu data bytes at 0x%04X-0x%04X, %zu bytes\n", path, image.data_bytes,
                unsigned(image.lowest), unsigned(image.highest), text.size());
    return true;
}

std::string embed_source(const char *path, const std::string &text)
{
    std::string name = path;
    const std::string::size_type slash = name.find_last_of('/');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    std::string out = "// Made by ravelo-firmware when the client was built";
    out += text.empty() ? ", which was given no image.\n" : " from " + name + ".\n";
    out += "#include \"maintenance/firmware.h\"\n\n";
    if (text.empty())
        return out + "std::string_view maintenance_firmware_embedded()\n{\n    return {};\n}\n";
    out += "namespace\n{\nconst char image[" + std::to_string(text.size()) + "] = {";
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += i % 20 == 0 ? "\n    " : " ";
        out += std::to_string(static_cast<unsigned char>(text[i]));
        out += ',';
    }
    out += "\n};\n} // namespace\n\n";
    out += "std::string_view maintenance_firmware_embedded()\n{\n    return {image, sizeof "
           "image};\n}\n";
    return out;
}

int usage(FILE *to)
{
    std::fputs("usage: ravelo-firmware generate OUT.hex\n"
               "       ravelo-firmware check IMAGE.hex\n"
               "       ravelo-firmware embed IMAGE.hex OUT.cpp\n"
               "       ravelo-firmware embed --none OUT.cpp\n",
               to);
    return to == stdout ? 0 : 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage(stderr);
    const std::string command = argv[1];
    if (command == "--help" || command == "-h")
        return usage(stdout);
    if (command == "generate" && argc == 3)
        return write_file(argv[2], placeholder_image()) ? 0 : 1;
    if (command == "check" && argc == 3) {
        std::string text;
        return read_file(argv[2], text) && check_and_report(argv[2], text) ? 0 : 1;
    }
    if (command == "embed" && argc == 4) {
        std::string text;
        if (std::string(argv[2]) == "--none")
            return write_file(argv[3], embed_source(argv[2], text)) ? 0 : 1;
        if (!read_file(argv[2], text) || !check_and_report(argv[2], text))
            return 1;
        return write_file(argv[3], embed_source(argv[2], text)) ? 0 : 1;
    }
    return usage(stderr);
}
