// The player's pure parts: the pulse counter, the TAP file seam and the
// buffer-time text.
#include "support/harness.h"

#include "player/playback.h"
#include "player/player_worker.h"
#include "player/tap_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace
{
// Sums pulse lengths straight from the definition, with 64-bit arithmetic,
// for comparison with the worker's streaming counter.
guint64 reference_cycles(const std::vector<guint8> &data)
{
    guint64 sum = 0;
    for (std::size_t i = 0; i < data.size();) {
        if (data[i] != 0) {
            sum += 8u * data[i];
            i += 1;
        } else {
            if (i + 3 < data.size())
                sum += data[i + 1] | data[i + 2] << 8 | data[i + 3] << 16;
            i += 4;
        }
    }
    return sum;
}

guint32 count(std::initializer_list<guint8> bytes, guint32 start = 0)
{
    const std::vector<guint8> data(bytes);
    guint32 cycles = start;
    player_count_pulses(data.data(), data.size(), &cycles);
    return cycles;
}

void reset_pulses()
{
    player_pulse_state = 0;
    player_pulse_partial = 0;
}
} // namespace

TEST(PlayerPulses, ShortPulsesAndThreeByteCounts)
{
    reset_pulses();
    EXPECT_EQ(count({0x30, 0x30}), 768u);
    EXPECT_EQ(player_pulse_state, 0u);
    EXPECT_EQ(count({0x00, 0x10, 0x27, 0x00}), 10000u);
    EXPECT_EQ(player_pulse_state, 0u);
    EXPECT_EQ(count({0xFF}, 5), 5u + 8u * 255u);
    EXPECT_EQ(count({0x00, 0xFF, 0xFF, 0xFF}), 0xFFFFFFu);
}

TEST(PlayerPulses, CountSplitOverChunksIsCarriedWhole)
{
    // Every split point of a count: after the zero, after the low byte and
    // after the middle byte. The earlier bytes must keep their weight.
    const std::vector<guint8> stream{0x20, 0x00, 0x10, 0x27, 0x00, 0x40};
    for (std::size_t split = 1; split < stream.size(); ++split) {
        reset_pulses();
        guint32 cycles = 0;
        player_count_pulses(stream.data(), split, &cycles);
        player_count_pulses(stream.data() + split, stream.size() - split, &cycles);
        EXPECT_EQ(cycles, 256u + 10000u + 512u) << "split at " << split;
        EXPECT_EQ(player_pulse_state, 0u);
    }

    reset_pulses();
    EXPECT_EQ(count({0x08, 0x00}), 64u);
    EXPECT_EQ(player_pulse_state, 1u);
    EXPECT_EQ(count({0x10}), 0u);
    EXPECT_EQ(player_pulse_state, 2u);
    EXPECT_EQ(count({0x27}), 0u);
    EXPECT_EQ(player_pulse_state, 3u);
    EXPECT_EQ(count({0x00, 0x01}), 10000u + 8u);
    EXPECT_EQ(player_pulse_state, 0u);
}

TEST(PlayerPulses, ChunkedStreamMatchesReferenceSum)
{
    std::mt19937 random(7);
    std::vector<guint8> data(20000);
    for (auto &b : data) {
        const unsigned r = random() % 100;
        b = r < 5 ? 0 : guint8(random());
    }
    const guint64 expected = reference_cycles(data);
    for (std::size_t chunk : {1u, 3u, 63u, 64u, 1000u}) {
        reset_pulses();
        guint32 cycles = 0;
        for (std::size_t at = 0; at < data.size(); at += chunk)
            player_count_pulses(data.data() + at, std::min(chunk, data.size() - at), &cycles);
        EXPECT_EQ(cycles, guint32(expected)) << "chunk " << chunk;
    }
}

TEST(PlayerPulses, SumWrapsAt32Bits)
{
    reset_pulses();
    EXPECT_EQ(count({0x02}, 0xFFFFFFF8u), 8u);
    EXPECT_EQ(count({0x00, 0x00, 0x00, 0x01}, 0xFFFF0000u), 0u);
}

TEST(PlayerBufferTime, FormatsMinutesAndSecondsWithTrailingSpace)
{
    const std::pair<guint32, const char *> cases[] = {
        {0, "0:00 "},
        {59, "0:59 "},
        {61, "1:01 "},
        {3599, "59:59 "},
        {3600, "60:00 "},
        {4359, "72:39 "},
        {4294967295u, "71582788:15 "},
    };
    for (const auto &[seconds, text] : cases) {
        gchar *formatted = player_format_buffer_time(seconds);
        EXPECT_STREQ(formatted, text);
        g_free(formatted);
    }
}

TEST(PlayerBufferTime, LabelShowsPublishedSeconds)
{
    test_app_start();
    GtkWidget *label = test_widget("label_buffer_time");
    for (guint32 seconds : {3599u, 3600u, 7u}) {
        g_mutex_lock(&buffer_lock);
        buffer_seconds = seconds;
        g_mutex_unlock(&buffer_lock);
        EXPECT_FALSE(player_show_buffer_time(nullptr));
        gchar *expected = player_format_buffer_time(seconds);
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label)), expected);
        g_free(expected);
    }
}

TEST(PlayerTapFile, OpensReadsSeeksAndMeasures)
{
    const std::string path = test_path("a.tap");
    test_write_file(path, "0123456789abcdefghij");
    const int fd = player_tap_open(path.c_str());
    ASSERT_GE(fd, 0);
    guint32 size = 0;
    EXPECT_EQ(player_tap_size(fd, &size), 1);
    EXPECT_EQ(size, 20u);
    char buffer[8] = {};
    EXPECT_EQ(player_tap_read(fd, buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(player_tap_seek(fd, 16), 1);
    EXPECT_EQ(player_tap_read(fd, buffer, 8), 4) << "short only at the end";
    EXPECT_EQ(std::string(buffer, 4), "ghij");
    EXPECT_EQ(player_tap_read(fd, buffer, 8), 0);
    EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    player_tap_close(fd);
}

TEST(PlayerTapFile, OpenIsExclusive)
{
    const std::string path = test_path("b.tap");
    test_write_file(path, std::string(40, 'x'));
    EXPECT_EQ(player_tap_open(test_path("missing.tap").c_str()), -1);
    EXPECT_EQ(player_tap_open(nullptr), -1);

    const int first = player_tap_open(path.c_str());
    ASSERT_GE(first, 0);
    EXPECT_EQ(player_tap_open(path.c_str()), -1) << "no second opener while the player holds it";
    player_tap_close(first);

    // Another program holding the file keeps the player out as well.
    const int other = open(path.c_str(), O_RDONLY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_SH), 0);
    EXPECT_EQ(player_tap_open(path.c_str()), -1);
    close(other);

    const int again = player_tap_open(path.c_str());
    EXPECT_GE(again, 0) << "closing released the lock";
    player_tap_close(again);
}

TEST(PlayerTapFile, SizeOf4GiBOrMoreCannotBeRead)
{
    const std::string path = test_path("big.tap");
    const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(out, 0);
    // Sparse: no disk space is used.
    ASSERT_EQ(ftruncate(out, off_t(0xFFFFFFFFu)), 0);
    int fd = player_tap_open(path.c_str());
    ASSERT_GE(fd, 0);
    guint32 size = 0;
    EXPECT_EQ(player_tap_size(fd, &size), 1);
    EXPECT_EQ(size, 0xFFFFFFFFu);
    player_tap_close(fd);

    ASSERT_EQ(ftruncate(out, off_t(0x100000000LL)), 0);
    close(out);
    fd = player_tap_open(path.c_str());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(player_tap_size(fd, &size), 0);
    player_tap_close(fd);
    unlink(path.c_str());
}
