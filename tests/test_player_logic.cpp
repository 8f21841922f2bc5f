// The player's parts that need no device: the pulse counter, the
// buffer-time text and the TAP file's size limit.
#include "support/harness.h"

#include "player/playback.h"
#include "player/player_state.h"
#include "player/player_worker.h"
#include "player/tap_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>
#include <unistd.h>
#include <vector>

namespace
{
guint32 count(const std::vector<guint8> &data, std::size_t chunk, guint32 start = 0)
{
    player_pulse_state = 0;
    player_pulse_partial = 0;
    guint32 cycles = start;
    for (std::size_t at = 0; at < data.size(); at += chunk)
        player_count_pulses(data.data() + at, std::min(chunk, data.size() - at), &cycles);
    return cycles;
}
} // namespace

TEST(PlayerPulses, AnyChunkingGivesTheSumOfTheDefinitionWrappingAt32Bits)
{
    struct Case {
        std::vector<guint8> data;
        guint32 start, cycles;
    };
    const Case cases[] = {
        {{0x30, 0x30}, 0, 768},
        {{0x00, 0x10, 0x27, 0x00, 0x01}, 0, 10000 + 8}, // count, least significant byte first
        {{0x00, 0xFF, 0xFF, 0xFF}, 5, 5 + 0xFFFFFF},
        {{0x02}, 0xFFFFFFF8u, 8},
        {{0x00, 0x00, 0x00, 0x01}, 0xFFFF0000u, 0},
    };
    // Chunks of one byte split every count after its zero, low and middle
    // byte: the bytes seen before the split must keep their weight.
    for (const Case &c : cases)
        for (std::size_t chunk : {1u, 2u, 3u, 64u})
            EXPECT_EQ(count(c.data, chunk, c.start), c.cycles) << c.data.size() << " / " << chunk;

    // Random data against a sum computed straight from the definition.
    std::mt19937 random(7);
    std::vector<guint8> data(20000);
    for (auto &b : data)
        b = random() % 100 < 5 ? 0 : guint8(random());
    guint64 expected = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] != 0) {
            expected += 8u * data[i];
        } else if (i + 3 < data.size()) {
            expected += data[i + 1] | data[i + 2] << 8 | guint32(data[i + 3]) << 16;
            i += 3;
        } else {
            break; // a count cut off by the end adds nothing
        }
    }
    for (std::size_t chunk : {1u, 3u, 63u, 64u, 1000u})
        EXPECT_EQ(count(data, chunk), guint32(expected)) << "chunk " << chunk;
}

TEST(PlayerBufferTime, MinutesAreUncapped)
{
    const std::pair<guint32, const char *> cases[] = {
        {61, "1:01 "}, {3599, "59:59 "}, {3600, "60:00 "}, {4294967295u, "71582788:15 "}};
    for (const auto &[seconds, text] : cases) {
        gchar *formatted = player_format_buffer_time(seconds);
        EXPECT_STREQ(formatted, text);
        g_free(formatted);
    }
}

TEST(PlayerTapFile, SizeOf4GiBOrMoreCannotBeRead)
{
    const std::string path = test_path("big.tap");
    const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(out, 0);
    const std::pair<off_t, bool> cases[] = {{0xFFFFFFFFu, true}, {0x100000000LL, false}};
    for (const auto &[length, readable] : cases) {
        ASSERT_EQ(ftruncate(out, length), 0); // sparse: no disk space used
        const int fd = player_tap_open(path.c_str());
        ASSERT_GE(fd, 0);
        guint32 size = 0;
        EXPECT_EQ(player_tap_size(fd, &size), readable ? 1 : 0);
        EXPECT_EQ(size, readable ? guint32(length) : 0u);
        player_tap_close(fd);
    }
    close(out);
    unlink(path.c_str());
}
