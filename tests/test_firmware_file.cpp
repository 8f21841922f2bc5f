// Firmware, Update firmware from file in a client that carries no image:
// the rules a file must keep, a refused file that touches nothing, and a
// chosen image flashed byte for byte through the installed avrdude.
#include "support/emulator.h"

#include "firmware/hex_image.h"
#include "maintenance/firmware.h"
#include "maintenance/update.h"

#include <glib/gstdio.h>
#include <sys/stat.h>

namespace
{

// An Intel HEX record; `sum_off` spoils its checksum.
std::string record(unsigned type, unsigned address, const std::string &data, int sum_off = 0)
{
    std::string bytes = {char(data.size()), char(address >> 8), char(address), char(type)};
    bytes += data;
    unsigned sum = 0;
    std::string line = ":";
    for (unsigned char byte : bytes) {
        sum += byte;
        line += test_owned(g_strdup_printf("%02X", byte));
    }
    return line + test_owned(g_strdup_printf("%02X", (256 - sum % 256 + sum_off) % 256)) + "\r\n";
}
const std::string end_record = ":00000001FF\r\n";
std::string data_at(unsigned address, int sum_off = 0)
{
    return record(0, address, "0123456789abcdef", sum_off);
}

// A new file `name` in the test's folder with `content`.
std::string file(const std::string &name, const std::string &content)
{
    const std::string path = test_path(name);
    test_write_file(path, content);
    return path;
}

} // namespace

// Each rule by a file that keeps it and files that break it; the line that
// broke it is the one reported. (Lower-case digits, LF line ends and what an
// image holds: the chosen image below.)
TEST(FirmwareImageRules, EveryRuleItsLine)
{
    const std::string two = data_at(0x0000) + data_at(0x0010);
    const struct {
        std::string text;
        HexRule broken;
        std::size_t line;
    } cases[] = {
        {two + end_record, HexRule::none, 0},
        {"", HexRule::empty, 0},
        {"\x89PNG\r\n\x1a\n", HexRule::syntax, 1},
        {two + ":1000100030\r\n" + end_record, HexRule::syntax, 3}, // short of its count
        {two + "\r\n" + end_record, HexRule::syntax, 3},            // a blank line
        {data_at(0) + "0" + data_at(0x10) + end_record, HexRule::syntax, 2},
        {data_at(0) + data_at(0x10, 1) + end_record, HexRule::checksum, 2},
        {record(4, 0, std::string("\0\0", 2)) + record(2, 0, std::string("\0\0", 2)) + two +
             end_record,
         HexRule::none, 0},
        {record(4, 0, std::string("\0\1", 2)) + two + end_record, HexRule::record_type, 1},
        {record(2, 0, std::string("\x10\0", 2)) + two + end_record, HexRule::record_type, 1},
        {two + record(3, 0, "\0\0\0\0") + end_record, HexRule::record_type, 3},
        {two, HexRule::no_end, 2},
        {two + end_record + "\n\r\n", HexRule::none, 0},
        {two + end_record + end_record, HexRule::after_end, 4},
        {two + end_record + data_at(0x20), HexRule::after_end, 4},
        {end_record, HexRule::no_data, 0},
        {record(0, 0x6FF0, std::string(16, 'x')) + end_record, HexRule::none, 0},
        {record(0, 0x6FF8, std::string(9, 'x')) + end_record, HexRule::boot_section, 1},
        {two + data_at(0x7000) + end_record, HexRule::boot_section, 3},
        {two + data_at(0x0008) + end_record, HexRule::overlap, 3},
        {data_at(0x0010) + data_at(0x0000) + data_at(0x000F) + end_record, HexRule::overlap, 3},
    };
    for (const auto &c : cases) {
        const HexImage image = hex_image_check(c.text);
        EXPECT_TRUE(image.broken == c.broken && image.line == c.line)
            << c.text << "broke " << int(image.broken) << " at line " << image.line;
    }
}

// A build with no image: Update firmware stays insensitive and says where to
// go. Every file that is no image is refused with its reason before the
// device or the tool is touched.
TEST(FirmwareFile, AFileThatIsNoImageTouchesNothing)
{
    test_app_start();
    GtkWidget *update = test_widget("menuitem_update");
    EXPECT_EQ(test_owned(gtk_widget_get_tooltip_text(update)),
              "This client carries no firmware image: use Update firmware from file…");
    PtyDevice console;
    ASSERT_TRUE(console.write("Ravelo\r\n> ") && avrdude_fixture_write(test_dir()) &&
                avrdude_fixture_fake_tool("#!/bin/sh\ntouch ~/tool-ran\n"));
    test_set_ports(console.slave.c_str(), test_path("ttyBOOT").c_str());
    const std::string fifo = test_path("fifo.hex"), big = file("big.hex", "");
    ASSERT_TRUE(mkfifo(fifo.c_str(), 0644) == 0 && truncate(big.c_str(), 300 << 20) == 0);
    const std::string two = data_at(0) + data_at(0x10);
    const std::pair<std::string, std::string> cases[] = {
        {file("empty.hex", ""), ": the file is empty"},
        {file("binary.hex", std::string("\0\1\2\3\xff", 5)), ", line 1: not an Intel HEX record"},
        {file("picture.hex", "\x89PNG\r\n\x1a\n"), ", line 1: not an Intel HEX record"},
        {big, ": larger than 1 MiB, which no firmware image is"},
        {fifo, ": not a regular file"},
        {test_dir(), ": Is a directory"},
        {file("checksum.hex", data_at(0) + data_at(0x10, 3) + end_record),
         ", line 2: the record's checksum is wrong"},
        {file("past.hex", two + data_at(0x7000) + end_record),
         ", line 3: data at or above 0x7000, in the bootloader's section"},
        {file("cut.hex", two), ", line 2: no end record: the file is cut short"},
        {file("after.hex", two + end_record + data_at(0x20)),
         ", line 4: a record after the end record"},
    };
    for (const auto &[path, reason] : cases) {
        const std::string log = test_log_text();
        maintenance_update_flash_file(path.c_str());
        EXPECT_EQ(test_status_text(), " Error: Not a firmware image");
        const std::string added = test_log_after(log);
        EXPECT_EQ(added.rfind("Not a firmware image: " + path + reason, 0), 0u) << added;
        EXPECT_TRUE(test_sensitive("menuitem_update_from_file") &&
                    !test_sensitive("menuitem_update"));
    }
    EXPECT_EQ(console.read_for(300), "") << "the device was reset";
    EXPECT_FALSE(fs::exists(test_path("tool-ran")));
}

// A chosen image (lower-case, LF line ends, an address record, a gap) is
// flashed by the installed avrdude: the device holds its bytes, the log
// describes it; the tool gets the file byte for byte. The chooser then
// starts where it was left. A device in its bootloader gets the file too.
TEST(FirmwareFile, AChosenImageIsFlashedByteForByte)
{
    std::string image = record(4, 0, std::string("\0\0", 2)), data;
    for (unsigned row = 0; row < 40; ++row) {
        const std::string bytes = test_owned(g_strdup_printf("image row %02u:  \xA5", row));
        image += record(0, 0x0400 + row * 16, bytes.substr(0, 16));
        data += bytes.substr(0, 16);
    }
    image = test_owned(g_ascii_strdown((image + end_record).c_str(), -1));
    image.erase(std::remove(image.begin(), image.end(), '\r'), image.end());
    ASSERT_EQ(g_mkdir("images", 0755), 0);
    const std::string path = file("images/new.hex", image);
    const std::string sha =
        test_owned(g_compute_checksum_for_string(G_CHECKSUM_SHA256, image.data(), image.size()));

    // The installed avrdude, behind a tool that keeps the file it is given.
    ASSERT_TRUE(avrdude_fixture_fake_tool("[ \"$1\" = -v ] || cp ravelo32u4.hex ~/seen\n"
                                          "PATH=${PATH#*:} exec avrdude \"$@\""));
    Emulator device;
    test_set_ports(device.link().c_str(), device.bootloader_link().c_str());
    const std::string log = test_log_text();
    const auto choose = [] {
        gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_update_from_file")));
    };
    const ChooserSeen first = test_choose(choose, test_dir(), Answer::cancel);
    EXPECT_EQ(first.title, "Select a firmware image");
    EXPECT_EQ(first.folder, g_get_home_dir());
    EXPECT_EQ(first.filters, (std::vector<std::string>{"Firmware images (*.hex):",
                                                       "All files: a.TAP b.tap c.Prg d.P00 e.t64 "
                                                       "f.D64 g.txt"}));
    test_choose(choose, path);
    ASSERT_TRUE(test_spin_until([] { return test_controls_are(true); }, 90000));
    EXPECT_EQ(test_status_text(), " Firmware update succeeded");
    const std::string added = test_log_after(log);
    EXPECT_EQ(
        added.rfind(test_separator +
                        "Updating device firmware\nFirmware update requested\nFirmware image " +
                        path + ": data at 0x0400-0x067F, 640 bytes, SHA-256 " + sha + "\n",
                    0),
        0u)
        << added;
    EXPECT_TRUE(g_str_has_suffix(added.c_str(), "\nCompleted\n")) << added;
    const std::string flash = test_read_file(device.flash_path());
    EXPECT_TRUE(flash.size() >= 0x680 && flash.substr(0x400, data.size()) == data);
    EXPECT_EQ(test_read_file(test_path("seen")), image);
    EXPECT_EQ(test_choose(choose, test_dir(), Answer::cancel).folder, test_path("images"));

    // A device already in its bootloader is flashed from the file as well.
    ASSERT_TRUE(avrdude_fixture_fake_tool("[ \"$1\" = -v ] || cp ravelo32u4.hex ~/again"));
    test_set_ports(test_path("ttyGONE").c_str(), file("ttyBOOT", "").c_str());
    test_choose(choose, path);
    ASSERT_TRUE(test_spin_until([] { return test_controls_are(true); }, 30000));
    EXPECT_EQ(test_status_text(), " Firmware update succeeded");
    EXPECT_EQ(test_read_file(test_path("again")), image);
}
