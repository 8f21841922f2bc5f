// Where the program meets real files: descriptions and line ends as old
// IDX files have them.
#include "test_player_device.h"

#include "index/idx_format.h"

#include <gtest/gtest.h>

using Records = std::vector<std::pair<gint32, std::string>>;

namespace
{
Records parse(std::string text)
{
    Records records;
    idx_parse_text(text.data(),
                   [&](gint32 offset, const char *info) { records.emplace_back(offset, info); });
    return records;
}

// The window's list shows the IDX file at `path`, as after File > Open.
void show_idx(const std::string &path)
{
    test_app_start();
    g_free(idx_file_path);
    idx_file_path = g_strdup(path.c_str());
    index_list_ready = 1;
    idx_fill_list();
}
} // namespace

TEST(RobustRead, StrayBytesAndOldLineEndsLoseNothing)
{
    // clang-format off
    const std::pair<std::string, Records> cases[] = {
        // Valid UTF-8 stays; each byte outside a valid sequence is Windows-1252.
        {"0x14 Caf\xc3\xa9 \xff", {{20, "Caf\xc3\xa9 \xc3\xbf"}}},
        {"0x14 \xe2\x82\xac\x80\xe2\x82\xac \x93x\x94",
         {{20, "\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac \xe2\x80\x9cx\xe2\x80\x9d"}}},
        {"0x14 ab\xc3", {{20, "ab\xc3\x83"}}},
        {"0x14 \xc0\xaf\xed\xa0\x80", {{20, "\xc3\x80\xc2\xaf\xc3\xad\xc2\xa0\xe2\x82\xac"}}},
        // CR, LF and CR LF all end a line; empty lines of any kind are skipped.
        {"0x14 a\r0x15 b\r0x16 c\r", {{20, "a"}, {21, "b"}, {22, "c"}}},
        {"0x14 a\r0x99 b\n0x15 c\r\n\r\n\n\n0x16 d\n\r\r0x17 e",
         {{20, "a"}, {0x99, "b"}, {21, "c"}, {22, "d"}, {23, "e"}}}};
    // clang-format on
    for (const auto &[text, records] : cases)
        EXPECT_EQ(parse(text), records) << "'" << text << "'";

    // Through the window: a CR-only file shows every record, and Save writes
    // them back in UTF-8 with CR LF.
    const std::string idx = test_path("mac.idx");
    test_write_file(idx, "0x14\tTape start\r0x100\tCaf\xc3\xa9 \xff\r0x200\tEnd\r");
    show_idx(idx);
    click("button_index_save");
    EXPECT_EQ(test_status_text(), " IDX list saved to file");
    EXPECT_EQ(test_read_file(idx),
              "0x14\t\tTape start\r\n0x100\t\tCaf\xc3\xa9 \xc3\xbf\r\n0x200\t\tEnd\r\n");
}
