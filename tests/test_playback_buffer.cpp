// The buffer-time label during playback, against a device played over a
// pseudo-terminal: its value after every chunk follows the pulse sum worked
// out here from the data alone, and it is refreshed only when whole seconds
// change.
#include "test_player_device.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace
{
constexpr guint64 clock_hz = 985248;

// Pulse data: one three-byte count.
std::string count_pulse(guint32 cycles)
{
    return std::string(1, '\0') + char(cycles & 0xFF) + char((cycles >> 8) & 0xFF) +
           char((cycles >> 16) & 0xFF);
}

// The pulse sum of `data` after each 64-byte chunk, from the definition of
// the format: a pulse counts with the chunk that holds its last byte.
std::vector<guint64> sums_after_chunks(const std::string &data)
{
    std::vector<guint64> end_of_pulse(data.size() + 1, 0);
    for (std::size_t i = 0; i < data.size();) {
        const auto b = guint8(data[i]);
        if (b != 0) {
            end_of_pulse[i + 1] += 8u * b;
            i += 1;
        } else {
            if (i + 3 < data.size())
                end_of_pulse[i + 4] += guint8(data[i + 1]) | guint8(data[i + 2]) << 8 |
                                       guint64(guint8(data[i + 3])) << 16;
            i += 4;
        }
    }
    std::vector<guint64> sums;
    guint64 sum = 0;
    for (std::size_t i = 1; i <= data.size(); ++i) {
        sum += end_of_pulse[std::min(i, end_of_pulse.size() - 1)];
        if (i % 64 == 0 || i == data.size())
            sums.push_back(sum);
    }
    return sums;
}

std::string label_for(guint64 cycles)
{
    gchar *text = player_format_buffer_time(guint32(guint32(cycles) / clock_hz));
    std::string result = text;
    g_free(text);
    return result;
}

struct LabelCounter {
    int updates = 0;
    gulong id = 0;
    LabelCounter()
    {
        id = g_signal_connect_swapped(test_widget("label_buffer_time"), "notify::label",
                                      G_CALLBACK(+[](LabelCounter *self) { ++self->updates; }),
                                      this);
    }
    ~LabelCounter() { g_signal_handler_disconnect(test_widget("label_buffer_time"), id); }
};

bool label_is(const std::string &text)
{
    return test_spin_until([&] { return buffer_label() == text; }, 3000);
}
} // namespace

TEST(PlaybackBuffer, LabelFollowsThePulseSumAndRefreshesOncePerSecond)
{
    // Short pulses and counts of up to a fifth of a second, the counts often
    // split over two chunks.
    std::mt19937 random(11);
    std::string data;
    while (data.size() < 1500) {
        if (random() % 4 == 0)
            data += count_pulse(20000 + random() % 200000);
        else
            data += char(0x20 + random() % 0x40);
    }
    const std::vector<guint64> sums = sums_after_chunks(data);
    ASSERT_GT(sums.back() / clock_hz, 10u) << "the tape spans several seconds";

    PtyDevice device;
    set_device_port(device.path());
    attach(data);
    LabelCounter counter;
    click("button_play");
    ASSERT_TRUE(device.start_playback());
    device.header();
    int expected_updates = 0;
    guint64 last_seconds = ~guint64(0);
    for (std::size_t k = 0; k < sums.size(); ++k) {
        const std::size_t size = std::min<std::size_t>(64, data.size() - 64 * k);
        ASSERT_EQ(device.chunk_of(size), data.substr(64 * k, size));
        ASSERT_TRUE(label_is(label_for(sums[k])))
            << "after chunk " << k << ": " << buffer_label() << " for " << sums[k] << " cycles";
        if (sums[k] / clock_hz != last_seconds)
            ++expected_updates;
        last_seconds = sums[k] / clock_hz;
    }
    EXPECT_EQ(device.chunk(), "");
    device.send("e");
    ASSERT_TRUE(status_is(" Playback over: Success condition received"));
    EXPECT_EQ(counter.updates, expected_updates);
    EXPECT_EQ(buffer_label(), label_for(sums.back()));
}

TEST(PlaybackBuffer, ResumedRunCountsOnFromTheExactSum)
{
    // Three chunks of 0.3, 0.3 and 0.5 seconds; a pause after the second.
    // The fraction sent after the last whole-second change must not be lost:
    // 1.1 seconds in all.
    std::string data;
    for (double seconds : {0.3, 0.3, 0.5})
        data += count_pulse(guint32(seconds * clock_hz) - 60 * 8) + std::string(60, '\x01');
    ASSERT_EQ(data.size(), 192u);

    PtyDevice device;
    set_device_port(device.path());
    attach(data);
    LabelCounter counter;
    click("button_play");
    ASSERT_TRUE(device.start_playback());
    device.header();
    device.chunk_of(64);
    device.chunk_of(64);
    click("button_pause");
    ASSERT_TRUE(status_is(" Playback paused", 3000));
    EXPECT_EQ(buffer_label(), "0:00 ");
    ASSERT_TRUE(device.wait_closed());

    click("button_play");
    ASSERT_TRUE(device.start_playback());
    device.header();
    EXPECT_EQ(device.chunk_of(64), data.substr(128));
    ASSERT_TRUE(label_is("0:01 "));
    device.send("e");
    ASSERT_TRUE(status_is(" Playback over: Success condition received"));
    EXPECT_EQ(counter.updates, 2) << "the first chunk and the change to 1 s";

    // A new run keeps the label until its first chunk, which counts from 0.
    click("button_play");
    ASSERT_TRUE(device.start_playback());
    device.header();
    test_spin_for(200);
    EXPECT_EQ(buffer_label(), "0:01 ");
    device.chunk_of(64);
    ASSERT_TRUE(label_is("0:00 "));
    click("button_stop");
    ASSERT_TRUE(status_is(" Playback stopped", 3000));
    EXPECT_EQ(buffer_label(), "0:00 ");
}

TEST(PlaybackBuffer, SumWrapsAfterAbout4359Seconds)
{
    // Each chunk holds sixteen of the longest pulses, 272 seconds of tape.
    std::string chunk;
    for (int i = 0; i < 16; ++i)
        chunk += count_pulse(0xFFFFFF);
    std::string data;
    for (int i = 0; i < 17; ++i)
        data += chunk;

    PtyDevice device;
    set_device_port(device.path());
    attach(data);
    click("button_play");
    ASSERT_TRUE(device.start_playback());
    device.header();
    guint64 sum = 0;
    for (int i = 0; i < 17; ++i) {
        device.chunk_of(64);
        sum += 16ull * 0xFFFFFF;
        ASSERT_TRUE(label_is(label_for(sum))) << "chunk " << i << ": " << buffer_label();
    }
    EXPECT_EQ(label_for(16ull * 16 * 0xFFFFFF), "72:39 ");
    EXPECT_EQ(buffer_label(), "4:32 ") << "the 32-bit sum wrapped";
    device.send("e");
    ASSERT_TRUE(status_is(" Playback over: Success condition received"));
}
