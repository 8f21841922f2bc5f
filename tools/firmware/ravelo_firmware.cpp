// ravelo-firmware: the build's helper for the firmware image the client
// carries.
//
//   ravelo-firmware generate OUT.hex    write the placeholder image
//   ravelo-firmware check IMAGE.hex     check an image and describe it
//   ravelo-firmware embed IMAGE.hex OUT.cpp
//                                       check an image and write the C++
//                                       source that embeds it
//
// The device's real program is not part of this project. The placeholder
// has the real image's layout (505 records: 502 of 16 data bytes, two of 8,
// the end record; 0x0000-0x1F6F; CR LF; 22,661 bytes) and is harmless: the
// reset vector disables interrupts and jumps to itself, and the rest of the
// memory holds readable text ("Ravelo stub 0010", ...) naming each row's
// address, so a misplaced page shows in a flash dump at a glance.
//
// A checked image must be well-formed Intel HEX: ':' records of hex digits,
// consistent byte counts, valid checksums, CR LF after every line, one end
// record as the last line, no NUL. Anything that would make the flashing
// tool misread it is an error (exit status 1). An image that is sound but
// not laid out like the device's image is accepted with warnings.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{

// The layout of the device's image.
constexpr unsigned image_bytes = 8048; // program memory covered, 0x0000-0x1F6F
constexpr unsigned image_records = 505;
constexpr unsigned image_text_length = 22661;

struct Check {
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
    unsigned records = 0;
    unsigned data_bytes = 0;
    unsigned long lowest = 0;
    unsigned long highest = 0; // one past the last data byte
};

std::string format(const char *fmt, unsigned long a, unsigned long b = 0)
{
    char text[160];
    std::snprintf(text, sizeof text, fmt, a, b);
    return text;
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Checks `text` as an Intel HEX image; `form_ok` tells whether it is laid
// out exactly as the device's image.
Check check_image(const std::string &text, bool &form_ok)
{
    Check c;
    form_ok = true;
    auto error = [&c](unsigned line, const std::string &what) {
        c.errors.push_back("line " + std::to_string(line) + ": " + what);
    };
    if (text.empty()) {
        c.errors.push_back("the image is empty");
        form_ok = false;
        return c;
    }
    const std::string::size_type nul = text.find('\0');
    if (nul != std::string::npos) {
        c.errors.push_back(format("NUL byte at offset %lu", nul));
        form_ok = false;
        return c;
    }

    bool lowercase = false;
    bool other_types = false;
    bool seen_end = false;
    unsigned long base = 0; // from extended address records
    unsigned long next = 0; // where a consecutive data record would start
    bool consecutive = true;
    unsigned data_records = 0;
    bool sizes_ok = true;
    unsigned line = 0;
    std::string::size_type pos = 0;
    while (pos < text.size()) {
        ++line;
        const std::string::size_type lf = text.find('\n', pos);
        if (lf == std::string::npos || lf == pos || text[lf - 1] != '\r') {
            error(line, "does not end with CR LF");
            break;
        }
        const std::string record = text.substr(pos, lf - 1 - pos);
        pos = lf + 1;
        if (seen_end) {
            error(line, "follows the end record");
            break;
        }
        if (record.empty() || record[0] != ':') {
            error(line, "does not begin with ':'");
            continue;
        }
        std::vector<unsigned> bytes;
        bool digits_ok = (record.size() - 1) % 2 == 0;
        for (std::string::size_type i = 1; digits_ok && i + 1 < record.size(); i += 2) {
            const int hi = hex_value(record[i]);
            const int lo = hex_value(record[i + 1]);
            if (hi < 0 || lo < 0)
                digits_ok = false;
            else
                bytes.push_back(unsigned(hi * 16 + lo));
        }
        if (!digits_ok) {
            error(line, "is not an even number of hexadecimal digits after ':'");
            continue;
        }
        for (char ch : record)
            if (ch >= 'a' && ch <= 'f')
                lowercase = true;
        if (bytes.size() < 5) {
            error(line, "is too short for a record");
            continue;
        }
        ++c.records;
        const unsigned count = bytes[0];
        if (count + 5 != bytes.size()) {
            error(line, format("byte count says %lu data bytes, the record has %lu", count,
                               bytes.size() - 5));
            continue;
        }
        unsigned sum = 0;
        for (unsigned b : bytes)
            sum += b;
        if (sum % 256 != 0) {
            unsigned without = 0;
            for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
                without += bytes[i];
            error(line, format("checksum is %02lX, should be %02lX", bytes.back(),
                               (256 - without % 256) % 256));
            continue;
        }
        const unsigned long address = bytes[1] * 256UL + bytes[2];
        const unsigned type = bytes[3];
        switch (type) {
        case 0x00: {
            const unsigned long start = base + address;
            if (c.data_bytes == 0 || start < c.lowest)
                c.lowest = start;
            if (start + count > c.highest)
                c.highest = start + count;
            if (start != next)
                consecutive = false;
            next = start + count;
            const unsigned expected = data_records < 502 ? 16 : 8;
            if (count != expected)
                sizes_ok = false;
            ++data_records;
            c.data_bytes += count;
            break;
        }
        case 0x01:
            if (count != 0 || address != 0)
                error(line, "end record must read :00000001FF");
            seen_end = true;
            break;
        case 0x02:
        case 0x04:
            if (count != 2) {
                error(line, "extended address record must carry 2 bytes");
                continue;
            }
            base = (bytes[4] * 256UL + bytes[5]) << (type == 0x02 ? 4 : 16);
            other_types = true;
            break;
        case 0x03:
        case 0x05:
            if (count != 4) {
                error(line, "start address record must carry 4 bytes");
                continue;
            }
            other_types = true;
            break;
        default:
            error(line, format("unknown record type %02lX", type));
            break;
        }
    }
    if (c.errors.empty() && !seen_end)
        c.errors.push_back("no end record (:00000001FF) as the last line");

    if (lowercase)
        c.warnings.push_back("hexadecimal digits in lower case (the device's image uses capitals)");
    if (other_types)
        c.warnings.push_back("address or start records (the device's image has none)");
    if (c.records != image_records || data_records != image_records - 1 || !sizes_ok)
        c.warnings.push_back("not 502 data records of 16 bytes, 2 of 8 and the end record");
    if (!consecutive || c.lowest != 0 || c.data_bytes != image_bytes)
        c.warnings.push_back("data does not run consecutively from 0x0000 to 0x1F6F");
    if (text.size() != image_text_length)
        c.warnings.push_back("length is not 22661 bytes");
    form_ok = c.errors.empty() && c.warnings.empty();
    return c;
}

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
    bool form_ok = false;
    const Check c = check_image(text, form_ok);
    for (const std::string &e : c.errors)
        std::fprintf(stderr, "%s: error: %s\n", path, e.c_str());
    if (!c.errors.empty()) {
        std::fprintf(stderr, "%s: not a usable Intel HEX image\n", path);
        return false;
    }
    for (const std::string &w : c.warnings)
        std::fprintf(stderr, "%s: warning: %s\n", path, w.c_str());
    std::printf("%s: %u records, %u data bytes at 0x%04lX-0x%04lX, %zu bytes%s\n", path, c.records,
                c.data_bytes, c.lowest, c.highest == 0 ? 0 : c.highest - 1, text.size(),
                form_ok ? "" : " (not the device image's layout)");
    return true;
}

std::string embed_source(const char *path, const std::string &text)
{
    std::string name = path;
    const std::string::size_type slash = name.find_last_of('/');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    std::string out = "// Made by ravelo-firmware from " + name + " when the client was built.\n";
    out += "#include \"maintenance/firmware.h\"\n\n";
    out += "const char device_firmware_image[" + std::to_string(text.size()) + "] = {";
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += i % 20 == 0 ? "\n    " : " ";
        out += std::to_string(static_cast<unsigned char>(text[i]));
        out += ',';
    }
    out += "\n};\n";
    out += "const gsize device_firmware_image_length = sizeof device_firmware_image;\n";
    return out;
}

int usage(FILE *to)
{
    std::fputs("usage: ravelo-firmware generate OUT.hex\n"
               "       ravelo-firmware check IMAGE.hex\n"
               "       ravelo-firmware embed IMAGE.hex OUT.cpp\n",
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
        if (!read_file(argv[2], text) || !check_and_report(argv[2], text))
            return 1;
        return write_file(argv[3], embed_source(argv[2], text)) ? 0 : 1;
    }
    return usage(stderr);
}
