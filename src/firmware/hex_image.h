// The check that an Intel HEX file is a firmware image the device's
// bootloader may write, before anything touches the device. Plain C++, no
// toolkit: the client checks a file the user chose, and the build checks
// the image it embeds, with the same rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The first byte of the bootloader's section on the device's ATmega32U4
// (a 4 KB boot section): an image must not reach it.
inline constexpr std::uint32_t hex_boot_section_start = 0x7000;

// The rules an image must keep, in the order a file is read.
enum class HexRule {
    none,         // kept them all
    empty,        // the file has no records at all
    syntax,       // a line is not ':' with hex digit pairs as its byte count says
    checksum,     // a record's checksum
    record_type,  // types 00 and 01 only, or 02/04 with a zero base
    after_end,    // a record after the end record (a second end record too)
    no_end,       // no end record
    no_data,      // not one data byte
    boot_section, // a byte at or above hex_boot_section_start
    overlap,      // two records give the same byte
};

struct HexImage {
    HexRule broken = HexRule::none;
    // The line (from 1) where the rule broke; 0 for a rule of the whole
    // file (empty, no_data).
    std::size_t line = 0;
    // The data bytes, and the lowest and highest address that holds one
    // (meaningful when the image kept the rules).
    std::size_t data_bytes = 0;
    std::uint32_t lowest = 0;
    std::uint32_t highest = 0;
};

// Checks `text` line by line. Lines end in LF or CR LF; hex digits may be
// either case; a last line without a line end counts; empty lines after the
// end record are allowed.
HexImage hex_image_check(std::string_view text);

// What `rule` demands, in English as a message id (the client translates
// it); "" for HexRule::none.
const char *hex_rule_text(HexRule rule);
