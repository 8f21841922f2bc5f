// The IDX file: number syntax and line grammar by rule, record lines and how
// they read back, and saving (the two messages, and the previous file kept
// whenever a save fails).
#include "index/idx_commands.h"
#include "index/idx_format.h"

#include "support/harness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <sys/mount.h>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace std::string_literals;
using Records = std::vector<std::pair<gint32, std::string>>;

namespace
{

std::optional<gint32> number(const std::string &text)
{
    const char *pos = text.c_str();
    gint32 value = 12345;
    if (idx_parse_number(&pos, &value))
        return value;
    EXPECT_EQ(value, 0) << "a failed parse leaves 0";
    return std::nullopt;
}

// The records read from an IDX text, and whether one was at 20.
std::pair<Records, bool> parse(std::string text)
{
    Records records;
    const bool tape_start = idx_parse_text(text.data(), [&](gint32 offset, const char *info) {
        records.push_back({offset, info});
    });
    return {records, tape_start};
}

long entries(const std::string &folder)
{
    return long(std::distance(fs::directory_iterator(folder), {}));
}

} // namespace

TEST(IdxNumber, SyntaxByRule)
{
    const std::optional<gint32> fails;
    using Cases = std::vector<std::pair<std::string, std::optional<gint32>>>;
    // clang-format off
    const std::pair<const char *, Cases> rules[] = {
        {"the prefix gives the base, hex digits in either case",
         {{"100 x", 100}, {"0144 x", 100}, {"0x64 x", 100}, {"0b1100100 x", 100}, {"0x6A", 106},
          {"0x6a", 106}}},
        {"lowercase prefixes only, no digit at or above the base",
         {{"0X64", fails}, {"0B101", fails}, {"08", fails}, {"0b102", fails}, {"0x1G", fails},
          {"0x:", fails}, {"0o17", fails}}},
        {"0 and a prefix without digits are 0",
         {{"0 word", 0}, {"0x word", 0}, {"0b\tword", 0}, {"0x", 0}, {"-0", 0}}},
        {"one minus directly before the digits, no plus",
         {{"-0x14", -20}, {"-5", -5}, {"--5", fails}, {"- 5", fails}, {"+5", fails}, {"-", fails}}},
        {"spaces before the number, no TAB",
         {{"   42", 42}, {"\t42", fails}, {"", fails}, {"   ", fails}}},
        {"the number ends at a byte 0x00-0x20 only",
         {{"20Game", fails}, {"12a", fails}, {"20\x01", 20}, {"20\r", 20}, {"20\x7f", fails},
          {"20\xe9", fails}}},
        {"modulo 2^32, read as signed",
         {{"0xFFFFFFFF", -1}, {"0xfffffffb", -5}, {"0x100000014", 20}, {"2147483648", G_MININT32},
          {"-0x80000001", G_MAXINT32}, {"0x" + std::string(10000, 'f'), -1}}}};
    // clang-format on
    for (const auto &[rule, cases] : rules)
        for (const auto &[text, value] : cases)
            EXPECT_EQ(number(text), value) << rule << ": '" << text << "'";
}

TEST(IdxLines, GrammarByRule)
{
    // clang-format off
    const std::tuple<std::string, Records, bool> cases[] = {
        {"0x14\t\tTape start\r\n", {{20, "Tape start"}}, true},
        {"  0x100   Intro  ", {{256, "Intro  "}}, false},
        {"0x200", {{512, ""}}, false},
        // A line whose number does not parse is skipped silently.
        {"\t0x20 tab\n# comment\n+100 plus\n- 100 minus\n0X64 capital\n20Game\n08 octal\n"
         "0x1G hex\n0x: colon\nHeading\n0x30 kept\n", {{0x30, "kept"}}, false},
        // LF ends a line and the first CR its content; a CR alone ends nothing.
        {"0x14 a\r0x99 junk\n0x15 b\r\n\r\n\n\n0x16 c\n\r\r0x17 d",
         {{20, "a"}, {21, "b"}, {22, "c"}, {23, "d"}}, true},
        {"0x14 a\r0x15 b\r0x16 c\r", {{20, "a"}}, true},
        {"", {}, false}, {"\n\n  \r\n\t\n", {}, false}, {"\r\r\r\r", {}, false},
        // After the number spaces and TABs are skipped; the rest of the line is
        // the description, trailing blanks and other control bytes included.
        {"0x14 \t Tape\t start \t\n", {{20, "Tape\t start \t"}}, true},
        {"0x15\x0bvertical", {{21, "\x0bvertical"}}, false},
        {"100 0x200 300", {{100, "0x200 300"}}, false},
        // Equal offsets are all kept; the flag needs exactly 20 (after the wrap).
        {"0x14 one\n20 two\n", {{20, "one"}, {20, "two"}}, true},
        {"21 a\n19 b\n0x100000014 c", {{21, "a"}, {19, "b"}, {20, "c"}}, true},
        {"21 a\n19 b\n0x114 c", {{21, "a"}, {19, "b"}, {0x114, "c"}}, false},
        // Nothing after a NUL is read, even in the middle of a line.
        {"0x14 a\n0x15 b\0" "0x16 c\n"s, {{20, "a"}, {21, "b"}}, true},
        {"0x20 befo\0re\n0x21 after\n"s, {{32, "befo"}}, false},
        // Descriptions that are not UTF-8 are read as Windows-1252 (the bytes
        // it leaves undefined as C1 controls); UTF-8 stays as it is.
        {"0x20 Caf\xe9\n0x21 Caf\xc3\xa9\n0x22 \x80\x96\x93\x94\n0x23 \x81\x8d\n0x24 ab\xc3",
         {{32, "Caf\xc3\xa9"}, {33, "Caf\xc3\xa9"}, {34, "\xe2\x82\xac\xe2\x80\x93\xe2\x80\x9c\xe2\x80\x9d"},
          {35, "\xc2\x81\xc2\x8d"}, {36, "ab\xc3\x83"}}, false}};
    // clang-format on
    for (const auto &[text, records, has_tape_start] : cases)
        EXPECT_EQ(parse(text), std::make_pair(records, has_tape_start)) << "'" << text << "'";
}

TEST(IdxLines, HostileInput)
{
    const std::string long_info(1 << 20, 'x'), no_number(1 << 20, '9');
    EXPECT_EQ(parse("0x14 " + long_info + "\n" + no_number + "z\n0x15 next").first,
              (Records{{20, long_info}, {21, "next"}}));

    // Every byte but the line ends in one description: each becomes one
    // character of valid UTF-8.
    std::string every;
    for (int c = 1; c < 256; ++c)
        if (c != '\n' && c != '\r')
            every.push_back(char(c));
    const Records rows = parse("0x14 " + every).first;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(g_utf8_validate(rows[0].second.c_str(), -1, nullptr));
    EXPECT_EQ(g_utf8_strlen(rows[0].second.c_str(), -1), glong(every.size()));
}

TEST(IdxRecordLine, WrittenByTheTabRuleAndReadBack)
{
    // Two TABs up to 0xFFFFF compared as signed, so for negative offsets too,
    // which are written as their 32-bit pattern.
    // clang-format off
    const std::tuple<gint32, const char *, const char *> cases[] = {
        {20, "Tape start", "0x14\t\tTape start\r\n"}, {0, "zero", "0x0\t\tzero\r\n"},
        {0xFFFFF, "a", "0xfffff\t\ta\r\n"},           {0x100000, "b", "0x100000\tb\r\n"},
        {G_MAXINT32, "c", "0x7fffffff\tc\r\n"},        {-5, "d", "0xfffffffb\t\td\r\n"},
        {G_MININT32, "e", "0x80000000\t\te\r\n"},
        {0xABC, "in\ttab 0x1  ", "0xabc\t\tin\ttab 0x1  \r\n"},
        {0xDEF, "Caf\xc3\xa9 \xe2\x82\xac", "0xdef\t\tCaf\xc3\xa9 \xe2\x82\xac\r\n"}};
    // clang-format on
    for (const auto &[offset, info, line] : cases) {
        EXPECT_EQ(idx_format_record(offset, info), line);
        EXPECT_EQ(parse(line).first, (Records{{offset, info}}));
    }

    // What does not come back: empty descriptions, leading blanks, line breaks.
    // clang-format off
    const std::tuple<gint32, const char *, const char *, Records> changed[] = {
        {0x200, "", "0x200\t\t<Missing info>\r\n", {{0x200, "<Missing info>"}}},
        {0x200, nullptr, "0x200\t\t<Missing info>\r\n", {{0x200, "<Missing info>"}}},
        {0x200, " \t lead", "0x200\t\t \t lead\r\n", {{0x200, "lead"}}},
        {0x200, "one\rtwo", "0x200\t\tone\rtwo\r\n", {{0x200, "one"}}},
        {0x200, "one\n0x300 two", "0x200\t\tone\n0x300 two\r\n", {{0x200, "one"}, {0x300, "two"}}}};
    // clang-format on
    for (const auto &[offset, info, line, back] : changed) {
        EXPECT_EQ(idx_format_record(offset, info), line);
        EXPECT_EQ(parse(line).first, back);
    }
}

TEST(IdxSave, ReplacesTheFileKeepingItsModeAndLinks)
{
    test_app_start();
    fs::create_directory(test_path("real"));
    const std::string path = test_path("real/game.idx"), link = test_path("game.idx");
    test_write_file(path, "old content, longer than the new one\r\n");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    fs::create_symlink(path, link);
    ASSERT_TRUE(idx_save_file(link.c_str(), {{20, "Tape start"}, {0x100000, ""}}));
    EXPECT_EQ(test_status_text(), " The list of index records was saved");
    EXPECT_EQ(test_read_file(path), "0x14\t\tTape start\r\n0x100000\t<Missing info>\r\n");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));
    // The temporary file became the IDX file; nothing else is left.
    EXPECT_EQ(entries(test_path("real")), 1);
    ASSERT_TRUE(idx_save_file(path.c_str(), {}));
    EXPECT_EQ(test_read_file(path), "");
}

// A save that fails, into a read-only folder or onto a full device (a 16 KiB
// tmpfs of its own; mounting needs CAP_SYS_ADMIN): the message, the previous
// file as it was, and nothing else left there.
TEST(IdxSave, ReadOnlyFolderOrFullDeviceKeepsThePreviousFile)
{
    test_app_start();
    const std::string previous = "0x14\t\tTape start\r\n0x200\t\tOld entry\r\n";
    const std::vector<IdxRecord> rows{{20, "Tape start"}, {0x300, std::string(60000, 'x')}};
    for (const bool read_only : {true, false}) {
        const std::string folder = test_path(read_only ? "read-only" : "full");
        fs::create_directories(folder);
        if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=16k") != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here";
        test_write_file(folder + "/game.idx", previous);
        ASSERT_TRUE(!read_only ||
                    mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0);
        for (const char *name : {"/game.idx", "/other.idx"}) {
            EXPECT_FALSE(idx_save_file((folder + name).c_str(), rows));
            EXPECT_EQ(test_status_text(), " Could not save the list of index records. Check write "
                                          "and sharing permissions!");
        }
        EXPECT_EQ(test_read_file(folder + "/game.idx"), previous);
        EXPECT_EQ(entries(folder), 1);
        // A list that fits is saved on the same device.
        EXPECT_EQ(idx_save_file((folder + "/game.idx").c_str(), {{20, "Tape start"}}), !read_only);
        umount2(folder.c_str(), MNT_DETACH);
    }
}
