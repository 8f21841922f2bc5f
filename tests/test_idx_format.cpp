// The IDX text: number syntax, line grammar, record lines. No window needed.
#include "index/idx_format.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

// Found by argument-dependent lookup, so beside IdxRecord.
bool operator==(const IdxRecord &a, const IdxRecord &b)
{
    return a.offset == b.offset && a.info == b.info;
}

std::ostream &operator<<(std::ostream &out, const IdxRecord &r)
{
    return out << "(" << r.offset << ", \"" << r.info << "\")";
}

namespace
{

std::optional<gint32> number(const char *text)
{
    const char *pos = text;
    gint32 value = 12345;
    if (!idx_parse_number(&pos, &value)) {
        EXPECT_EQ(value, 0) << "a failed parse leaves 0 for " << text;
        return std::nullopt;
    }
    return value;
}

// What the parser hands on for an IDX text.
struct Parsed {
    std::vector<IdxRecord> records;
    bool has_tape_start;
};

Parsed parse(std::string text)
{
    Parsed parsed{{}, false};
    parsed.has_tape_start = idx_parse_text(text.data(), [&](gint32 offset, const char *info) {
        parsed.records.push_back({offset, info});
    });
    return parsed;
}

using Records = std::vector<IdxRecord>;

} // namespace

TEST(IdxNumber, EveryBaseByItsPrefix)
{
    EXPECT_EQ(number("100 x"), 100);
    EXPECT_EQ(number("0144 x"), 100);
    EXPECT_EQ(number("0x64 x"), 100);
    EXPECT_EQ(number("0b1100100 x"), 100);
    EXPECT_EQ(number("0x6A"), 106);
    EXPECT_EQ(number("0x6a"), 106);
    EXPECT_EQ(number("0xDeadBeef"), gint32(0xdeadbeefu));
    EXPECT_EQ(number("07"), 7);
    EXPECT_EQ(number("9"), 9);
}

TEST(IdxNumber, PrefixesAreLowercaseAndDigitsBelowTheBase)
{
    EXPECT_EQ(number("0X64"), std::nullopt);
    EXPECT_EQ(number("0B101"), std::nullopt);
    EXPECT_EQ(number("08"), std::nullopt);
    EXPECT_EQ(number("0777778"), std::nullopt);
    EXPECT_EQ(number("0b102"), std::nullopt);
    EXPECT_EQ(number("0x1G"), std::nullopt);
    EXPECT_EQ(number("0x:"), std::nullopt);
    EXPECT_EQ(number("12a"), std::nullopt);
    EXPECT_EQ(number("0o17"), std::nullopt);
}

TEST(IdxNumber, ZeroAndBarePrefixesAreZero)
{
    EXPECT_EQ(number("0 word"), 0);
    EXPECT_EQ(number("0x word"), 0);
    EXPECT_EQ(number("0b\tword"), 0);
    EXPECT_EQ(number("0"), 0);
    EXPECT_EQ(number("0x"), 0);
    EXPECT_EQ(number("-0"), 0);
}

TEST(IdxNumber, OneMinusDirectlyBeforeTheDigits)
{
    EXPECT_EQ(number("-0x14"), -20);
    EXPECT_EQ(number("-5"), -5);
    EXPECT_EQ(number("-0b11"), -3);
    EXPECT_EQ(number("--5"), std::nullopt);
    EXPECT_EQ(number("- 5"), std::nullopt);
    EXPECT_EQ(number("+5"), std::nullopt);
    EXPECT_EQ(number("-"), std::nullopt);
}

TEST(IdxNumber, SpacesBeforeButNotTabs)
{
    EXPECT_EQ(number("   42"), 42);
    EXPECT_EQ(number("\t42"), std::nullopt);
    EXPECT_EQ(number(" \t42"), std::nullopt);
    EXPECT_EQ(number(""), std::nullopt);
    EXPECT_EQ(number("    "), std::nullopt);
}

TEST(IdxNumber, MustEndAtABlankOrControlByte)
{
    EXPECT_EQ(number("20Game"), std::nullopt);
    EXPECT_EQ(number("20\x01"), 20);
    EXPECT_EQ(number("20\x0b"), 20);
    EXPECT_EQ(number("20\r"), 20);
    EXPECT_EQ(number("20\x7f"), std::nullopt);
    // Bytes from 0x80 up are not terminators (nor digits).
    EXPECT_EQ(number("20\xe9"), std::nullopt);
    EXPECT_EQ(number("20\xc3\xa9"), std::nullopt);
}

TEST(IdxNumber, WrapsAroundAt32Bits)
{
    EXPECT_EQ(number("0xFFFFFFFF"), -1);
    EXPECT_EQ(number("0xfffffffb"), -5);
    EXPECT_EQ(number("0x100000014"), 20);
    EXPECT_EQ(number("4294967296"), 0);
    EXPECT_EQ(number("2147483648"), G_MININT32);
    EXPECT_EQ(number("-2147483648"), G_MININT32);
    EXPECT_EQ(number("-0x80000001"), G_MAXINT32);
    // A very long number only wraps: no overflow trap, no crash.
    EXPECT_EQ(number(("0x" + std::string(10000, 'f')).c_str()), -1);
}

TEST(IdxNumber, AdvancesPastTheNumberOnly)
{
    const char *text = "  0x14\t\tTape start";
    const char *pos = text;
    gint32 value = 0;
    ASSERT_TRUE(idx_parse_number(&pos, &value));
    EXPECT_EQ(value, 20);
    EXPECT_EQ(pos, text + 6);
}

TEST(IdxLines, TheDocumentedExamples)
{
    const Parsed tape = parse("0x14\t\tTape start\r\n");
    EXPECT_EQ(tape.records, (Records{{20, "Tape start"}}));
    EXPECT_TRUE(tape.has_tape_start);

    const Parsed intro = parse("  0x100   Intro  ");
    EXPECT_EQ(intro.records, (Records{{256, "Intro  "}}));
    EXPECT_FALSE(intro.has_tape_start);

    EXPECT_EQ(parse("0x200").records, (Records{{512, ""}}));
    EXPECT_EQ(parse("0x200\r\n").records, (Records{{512, ""}}));
    EXPECT_EQ(parse("-0x14 Before\n").records, (Records{{-20, "Before"}}));
    EXPECT_EQ(parse("0 Zero\n0x Zero\n0b Zero\n").records,
              (Records{{0, "Zero"}, {0, "Zero"}, {0, "Zero"}}));
}

TEST(IdxLines, MalformedLinesAreSkippedSilently)
{
    const Parsed parsed = parse("\t0x20 tab first\n"
                                "# comment\n"
                                "+100 plus\n"
                                "- 100 spaced minus\n"
                                "0X64 capital\n"
                                "20Game\n"
                                "08 octal\n"
                                "0x1G bad hex\n"
                                "0x: colon\n"
                                "Heading without number\n"
                                "0x30 kept\n");
    EXPECT_EQ(parsed.records, (Records{{0x30, "kept"}}));
    EXPECT_FALSE(parsed.has_tape_start);
}

TEST(IdxLines, LineEndsAndBlankLines)
{
    // CR LF, LF, runs of empty lines, no final line end.
    EXPECT_EQ(parse("0x14 a\r\n\r\n\n\n0x15 b\n0x16 c").records,
              (Records{{20, "a"}, {21, "b"}, {22, "c"}}));
    // The first CR ends the content; what follows up to the LF is not read.
    EXPECT_EQ(parse("0x14 a\rjunk 0x99\n0x15 b").records, (Records{{20, "a"}, {21, "b"}}));
    // CR alone is no line end: only the first record of such a file is read.
    EXPECT_EQ(parse("0x14 a\r0x15 b\r0x16 c\r").records, (Records{{20, "a"}}));
    // Only CRs, only LFs, nothing.
    EXPECT_TRUE(parse("\r\r\r\r").records.empty());
    EXPECT_TRUE(parse("\n\n\r\n\n").records.empty());
    EXPECT_TRUE(parse("").records.empty());
    EXPECT_FALSE(parse("\n\n").has_tape_start);
    // CRs at the start of a line after an LF are skipped with the empty lines.
    EXPECT_EQ(parse("0x14 a\n\r\r0x15 b").records, (Records{{20, "a"}, {21, "b"}}));
}

TEST(IdxLines, DescriptionRules)
{
    // Spaces and TABs after the number are skipped, trailing ones kept.
    EXPECT_EQ(parse("0x14 \t \tTape\t start \t\n").records, (Records{{20, "Tape\t start \t"}}));
    // Another control byte ends the number and starts the description.
    EXPECT_EQ(parse("0x14\x0bvertical\n").records, (Records{{20, "\x0bvertical"}}));
    // Numbers in the description are just text.
    EXPECT_EQ(parse("100 0x200 300\n").records, (Records{{100, "0x200 300"}}));
    // Equal offsets are all kept, in file order.
    EXPECT_EQ(parse("0x14 one\n0x14 two\n").records, (Records{{20, "one"}, {20, "two"}}));
}

TEST(IdxLines, TextAfterNulIsNotRead)
{
    std::string text("0x14 a\n0x15 b\0"
                     "0x16 c\n",
                     21);
    text.push_back('\0');
    EXPECT_EQ(parse(text).records, (Records{{20, "a"}, {21, "b"}}));

    std::string mid_line("0x20 befo\0re\n0x21 after\n", 24);
    mid_line.push_back('\0');
    EXPECT_EQ(parse(mid_line).records, (Records{{32, "befo"}}));
}

TEST(IdxLines, TapeStartFlagNeedsExactly20)
{
    EXPECT_TRUE(parse("0x100 a\n20 b\n").has_tape_start);
    EXPECT_TRUE(parse("0x100000014 wrapped\n").has_tape_start);
    EXPECT_FALSE(parse("21 a\n19 b\n0x114 c\n").has_tape_start);
    EXPECT_FALSE(parse("20Game\n").has_tape_start);
}

TEST(IdxLines, HostileInput)
{
    // A one-megabyte line.
    const std::string long_info(1 << 20, 'x');
    const Parsed big = parse("0x14 " + long_info + "\n0x15 next\n");
    ASSERT_EQ(big.records.size(), 2u);
    EXPECT_EQ(big.records[0].info, long_info);
    EXPECT_EQ(big.records[1], (IdxRecord{21, "next"}));

    // A long line that never parses, then a good one.
    EXPECT_EQ(parse(std::string(1 << 20, '9') + "z\n0x16 ok").records, (Records{{22, "ok"}}));

    // Every byte value once as a description: nothing may crash, and what
    // comes out must be UTF-8 for the toolkit.
    std::string all;
    for (int c = 1; c < 256; ++c)
        if (c != '\n' && c != '\r')
            all.push_back(char(c));
    const Parsed every = parse("0x14 " + all + "\n");
    ASSERT_EQ(every.records.size(), 1u);
    EXPECT_TRUE(g_utf8_validate(every.records[0].info.c_str(), -1, nullptr));
}

TEST(IdxLines, NonUtf8DescriptionsAreReadAsWindows1252)
{
    // "Café", "€5 – “x”", and a valid UTF-8 line that must stay as it is.
    const Parsed parsed = parse("0x14 Caf\xe9\n"
                                "0x15 \x80"
                                "5 \x96 \x93x\x94\n"
                                "0x16 Caf\xc3\xa9\n"
                                "0x17 \x81\x8d\n");
    ASSERT_EQ(parsed.records.size(), 4u);
    EXPECT_EQ(parsed.records[0].info, "Caf\xc3\xa9");
    EXPECT_EQ(parsed.records[1].info, "\xe2\x82\xac"
                                      "5 \xe2\x80\x93 \xe2\x80\x9cx\xe2\x80\x9d");
    EXPECT_EQ(parsed.records[2].info, "Caf\xc3\xa9");
    // The bytes the code page leaves undefined survive as C1 code points.
    EXPECT_EQ(parsed.records[3].info, "\xc2\x81\xc2\x8d");
    // A UTF-8 sequence cut short is not UTF-8 either.
    EXPECT_EQ(parse("0x14 ab\xc3\n").records[0].info, "ab\xc3\x83");
}

TEST(IdxRecordLine, TabsByOffsetAndLowercaseHex)
{
    EXPECT_EQ(idx_format_record(20, "Tape start"), "0x14\t\tTape start\r\n");
    EXPECT_EQ(idx_format_record(0, "zero"), "0x0\t\tzero\r\n");
    EXPECT_EQ(idx_format_record(0xFFFFF, "a"), "0xfffff\t\ta\r\n");
    EXPECT_EQ(idx_format_record(0x100000, "b"), "0x100000\tb\r\n");
    EXPECT_EQ(idx_format_record(0xABCDEF, "c"), "0xabcdef\tc\r\n");
    EXPECT_EQ(idx_format_record(G_MAXINT32, "d"), "0x7fffffff\td\r\n");
    // Negative offsets: their 32-bit pattern, and two TABs (signed compare).
    EXPECT_EQ(idx_format_record(-5, "e"), "0xfffffffb\t\te\r\n");
    EXPECT_EQ(idx_format_record(G_MININT32, "f"), "0x80000000\t\tf\r\n");
}

TEST(IdxRecordLine, EmptyDescriptionIsMissingInfo)
{
    EXPECT_EQ(idx_format_record(0x200, ""), "0x200\t\t<Missing info>\r\n");
    EXPECT_EQ(idx_format_record(0x200, nullptr), "0x200\t\t<Missing info>\r\n");
    EXPECT_EQ(idx_format_record(0x200000, ""), "0x200000\t<Missing info>\r\n");
    EXPECT_EQ(idx_format_record(0x200, " "), "0x200\t\t \r\n");
}

TEST(IdxRecordLine, WholeFileTextAndEmptyList)
{
    EXPECT_EQ(idx_format_records({}), "");
    EXPECT_EQ(idx_format_records({{20, "Tape start"}, {0x100000, "Far"}, {21, ""}}),
              "0x14\t\tTape start\r\n0x100000\tFar\r\n0x15\t\t<Missing info>\r\n");
}

TEST(IdxRoundTrip, WriterAndReaderAgree)
{
    const Records rows{
        {20, "Tape start"},        {0x100, "Intro  "},  {-5, "Before the start"},
        {0xFFFFF, "Edge"},         {0x100000, "Far"},   {G_MININT32, "Min"},
        {G_MAXINT32, "Max"},       {20, "Same offset"}, {33, "Caf\xc3\xa9 \xe2\x82\xac"},
        {34, "inner\ttab and 0x1"}};
    std::string text = idx_format_records(rows);
    EXPECT_EQ(parse(text).records, rows);
    EXPECT_TRUE(parse(text).has_tape_start);
}

TEST(IdxRoundTrip, TheThreeDocumentedExceptions)
{
    // Empty descriptions come back as "<Missing info>".
    EXPECT_EQ(parse(idx_format_records({{0x200, ""}})).records,
              (Records{{0x200, "<Missing info>"}}));
    // Leading blanks of a description are lost.
    EXPECT_EQ(parse(idx_format_records({{0x200, " \t lead"}})).records, (Records{{0x200, "lead"}}));
    // A CR or LF inside a description breaks it; the rest is a record only
    // when it begins with a number.
    EXPECT_EQ(parse(idx_format_records({{0x200, "one\rtwo"}})).records, (Records{{0x200, "one"}}));
    EXPECT_EQ(parse(idx_format_records({{0x200, "one\nsecond line"}})).records,
              (Records{{0x200, "one"}}));
    EXPECT_EQ(parse(idx_format_records({{0x200, "one\n0x300 two"}})).records,
              (Records{{0x200, "one"}, {0x300, "two"}}));
}
