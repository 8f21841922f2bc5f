#include "firmware/hex_image.h"

#include "base/i18n.h"

#include <iterator>
#include <map>
#include <vector>

namespace
{

constexpr unsigned type_data = 0x00, type_end = 0x01, type_segment = 0x02, type_linear = 0x04;
// ':', byte count, two address bytes, type and checksum.
constexpr std::size_t record_overhead = 5;

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The record's bytes (count, address, type, data, checksum), or false when
// the line is not a record.
bool record_bytes(std::string_view line, std::vector<unsigned> &bytes)
{
    bytes.clear();
    if (line.size() < 1 + 2 * record_overhead || line[0] != ':' || line.size() % 2 == 0)
        return false;
    for (std::size_t i = 1; i < line.size(); i += 2) {
        const int high = hex_digit(line[i]), low = hex_digit(line[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes.push_back(unsigned(high * 16 + low));
    }
    return bytes[0] + record_overhead == bytes.size();
}

// The data records' byte ranges by their first address; false when
// [start, end) shares a byte with one of them.
bool claim(std::map<std::uint32_t, std::uint32_t> &ranges, std::uint32_t start, std::uint32_t end)
{
    if (start == end)
        return true;
    auto next = ranges.lower_bound(start);
    if (next != ranges.end() && next->first < end)
        return false;
    if (next != ranges.begin() && std::prev(next)->second > start)
        return false;
    ranges.emplace(start, end);
    return true;
}

} // namespace

HexImage hex_image_check(std::string_view text)
{
    HexImage image;
    const auto broke = [&image](HexRule rule, std::size_t line) {
        image.broken = rule;
        image.line = line;
        return image;
    };
    std::map<std::uint32_t, std::uint32_t> ranges;
    std::vector<unsigned> bytes;
    bool ended = false;
    std::size_t line_number = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++line_number;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (ended) {
            if (!line.empty())
                return broke(HexRule::after_end, line_number);
            continue;
        }
        if (!record_bytes(line, bytes))
            return broke(HexRule::syntax, line_number);
        unsigned sum = 0;
        for (unsigned byte : bytes)
            sum += byte;
        if (sum % 256 != 0)
            return broke(HexRule::checksum, line_number);
        const unsigned count = bytes[0], type = bytes[3];
        const std::uint32_t address = bytes[1] * 256 + bytes[2];
        if (type == type_end && count == 0) {
            ended = true;
        } else if ((type == type_segment || type == type_linear) && count == 2) {
            if (bytes[4] != 0 || bytes[5] != 0)
                return broke(HexRule::record_type, line_number);
        } else if (type == type_data) {
            if (address + count > hex_boot_section_start)
                return broke(HexRule::boot_section, line_number);
            if (!claim(ranges, address, address + count))
                return broke(HexRule::overlap, line_number);
            if (count > 0 && (image.data_bytes == 0 || address < image.lowest))
                image.lowest = address;
            if (count > 0 && address + count - 1 > image.highest)
                image.highest = address + count - 1;
            image.data_bytes += count;
        } else {
            return broke(HexRule::record_type, line_number);
        }
    }
    if (line_number == 0)
        return broke(HexRule::empty, 0);
    if (!ended)
        return broke(HexRule::no_end, line_number);
    if (image.data_bytes == 0)
        return broke(HexRule::no_data, 0);
    return image;
}

const char *hex_rule_text(HexRule rule)
{
    switch (rule) {
    case HexRule::none:
        return "";
    case HexRule::empty:
        return N_("the file is empty");
    case HexRule::syntax:
        return N_("not an Intel HEX record (':' and pairs of hexadecimal digits, as many as its "
                  "byte count says)");
    case HexRule::checksum:
        return N_("the record's checksum is wrong");
    case HexRule::record_type:
        return N_("a record type other than data (00), end (01) or an address record (02, 04) "
                  "of base zero");
    case HexRule::after_end:
        return N_("a record after the end record");
    case HexRule::no_end:
        return N_("no end record: the file is cut short");
    case HexRule::no_data:
        return N_("not one data byte");
    case HexRule::boot_section:
        return N_("data at or above 0x7000, in the bootloader's section");
    case HexRule::overlap:
        return N_("the record overlaps an earlier one");
    }
    return "";
}
