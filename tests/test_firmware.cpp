// The parts of a firmware update that need no window: the embedded image,
// ravelo-firmware (the build's tool that makes, checks and embeds it), and
// running the flashing tool.
#include "support/avrdude_fixture.h"
#include "support/harness.h"

#include "maintenance/firmware.h"
#include "maintenance/tool_run.h"

#include <gtest/gtest.h>

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace
{

struct ToolResult {
    int status = -1;
    std::string out, err;
};

ToolResult image_tool(std::vector<std::string> args)
{
    args.insert(args.begin(), RAVELO_TOOLS_DIR "/firmware/ravelo-firmware");
    std::vector<gchar *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    gchar *out = nullptr, *err = nullptr;
    gint status = 0;
    EXPECT_TRUE(g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &out,
                             &err, &status, nullptr))
        << "cannot run " << args[0];
    ToolResult result{g_spawn_check_wait_status(status, nullptr) ? 0 : 1, out ? out : "",
                      err ? err : ""};
    g_free(out);
    g_free(err);
    return result;
}

// Alive and not a zombie.
bool process_alive(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text))
        return false;
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

} // namespace

// Checked on its own, not with the build's tool, so that a substitute of
// another form is caught even if the build's warnings went unread.
TEST(FirmwareImage, HasTheDevicesLayout)
{
    const std::string image(device_firmware_image, device_firmware_image_length);
    EXPECT_EQ(image.size(), 22661u);
    std::vector<std::string> lines;
    for (std::size_t pos = 0, end; pos < image.size(); pos = end + 2) {
        end = image.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos) << "the last line does not end with CR LF";
        lines.push_back(image.substr(pos, end - pos));
    }
    ASSERT_EQ(lines.size(), 505u);
    EXPECT_EQ(lines.back(), ":00000001FF");
    unsigned address = 0;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const std::string &line = lines[i];
        SCOPED_TRACE("line " + std::to_string(i + 1) + ": " + line);
        const unsigned count = i < 502 ? 16 : 8;
        ASSERT_EQ(line.size(), 11 + 2 * count);
        // Capitals only; a NUL or a bare CR or LF would show here too.
        ASSERT_EQ(line.find_first_not_of("0123456789ABCDEF", 1), std::string::npos);
        char head[10];
        std::snprintf(head, sizeof head, ":%02X%04X00", count, address);
        EXPECT_EQ(line.substr(0, 9), head) << "byte count, consecutive address, data record";
        unsigned sum = 0;
        for (std::size_t d = 1; d < line.size(); d += 2)
            sum += unsigned(std::stoul(line.substr(d, 2), nullptr, 16));
        EXPECT_EQ(sum % 256, 0u) << "checksum";
        address += count;
    }
}

// The placeholder has the device image's layout (checked without warnings)
// and is harmless: a reset vector that parks the CPU (cli; rjmp .), then
// rows of text naming their own address. check and embed refuse an image
// the flashing tool would misread and name the fault, and a refused embed
// leaves no source that a later build would take as up to date; a sound
// image of another layout passes with warnings.
TEST(FirmwareTool, MakesAndChecksImages)
{
    const std::string in = test_path("image.hex"), out = test_path("image.cpp");
    ASSERT_EQ(image_tool({"generate", in}).status, 0);
    const ToolResult report = image_tool({"check", in});
    EXPECT_EQ(report.out + report.err,
              in + ": 505 records, 8048 data bytes at 0x0000-0x1F6F, 22661 bytes\n");
    const std::string good = test_read_file(in);
    const std::vector<unsigned char> data = hex_data_bytes(good);
    ASSERT_EQ(data.size(), 8048u);
    EXPECT_EQ(std::string(data.begin(), data.begin() + 4), "\xF8\x94\xFF\xCF");
    EXPECT_EQ(std::string(data.begin() + 0x10, data.begin() + 0x20), "Ravelo stub 0010");
    EXPECT_EQ(std::string(data.end() - 16, data.end()), "Ravelo stub 1F60");

    const std::size_t line3 = 2 * 45; // after two records of 16 bytes
    const auto changed = [&good](std::size_t at, char c) {
        std::string image = good;
        image[at] = c;
        return image;
    };
    std::string lf_only = good;
    lf_only.erase(std::remove(lf_only.begin(), lf_only.end(), '\r'), lf_only.end());
    struct Case {
        std::string image;
        int status;
        const char *says;
    };
    const Case cases[] = {
        {changed(line3 + 41, good[line3 + 41] == '0' ? '1' : '0'), 1, "line 3: checksum is"},
        {changed(line3 + 12, 'G'), 1, "line 3: is not an even number of hexadecimal digits"},
        {changed(line3 + 2, 'F'), 1, "line 3: byte count says"},
        {changed(line3, ';'), 1, "line 3: does not begin with ':'"},
        {changed(line3 + 5, '\0'), 1, "NUL byte at offset 95"},
        {lf_only, 1, "line 1: does not end with CR LF"},
        {good.substr(0, good.size() - 2), 1, "line 505: does not end with CR LF"},
        {good.substr(0, good.size() - 13), 1, "no end record"},
        {good + ":00000001FF\r\n", 1, "line 506: follows the end record"},
        {"", 1, "the image is empty"},
        {":0400000001020304F2\r\n:00000001FF\r\n", 0, "warning: not 502 data records"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.says);
        test_write_file(in, c.image);
        const ToolResult check = image_tool({"check", in});
        EXPECT_EQ(check.status, c.status);
        EXPECT_NE(check.err.find(c.says), std::string::npos) << check.err;
        EXPECT_EQ(image_tool({"embed", in, out}).status, c.status);
        EXPECT_EQ(g_file_test(out.c_str(), G_FILE_TEST_EXISTS), c.status == 0);
        EXPECT_FALSE(g_file_test((out + ".tmp").c_str(), G_FILE_TEST_EXISTS));
    }
}

TEST(ToolRun, OnlyAZeroExitStatusSucceeds)
{
    const std::pair<std::vector<const char *>, int> cases[] = {
        {{"true", nullptr}, 1},
        {{"false", nullptr}, 0},
        {{"sh", "-c", "kill -9 $$", nullptr}, 0}, // ended by a signal
        {{"ravelo-no-such-program", nullptr}, 0}, // cannot be started
    };
    for (const auto &[argv, result] : cases)
        EXPECT_EQ(device_tool_run(argv.data(), nullptr, 10000, nullptr, nullptr), result)
            << argv[argv.size() - 2];
}

// Each word reaches the program as it is: nothing splits, quotes or expands
// it. The tool runs in the folder it is given, reads /dev/null, and its
// output comes back line by line, stderr and stdout in the order written.
TEST(ToolRun, PassesEachWordAsItIsAndHandsBackItsOutput)
{
    const char *const argv[] = {
        "sh",        "-c",    "readlink /proc/$$/fd/0; printf '%s|' \"$@\" >&2; echo; pwd",
        "sh",        "-Pa b", "'c d'",
        "\"e\"\\ f", "$HOME", nullptr};
    std::vector<std::string> lines;
    const auto collect = [](const char *line, void *to) {
        static_cast<std::vector<std::string> *>(to)->push_back(line);
    };
    EXPECT_EQ(device_tool_run(argv, "/", 10000, collect, &lines), 1);
    EXPECT_EQ(lines, (std::vector<std::string>{"/dev/null", "-Pa b|'c d'|\"e\"\\ f|$HOME|", "/"}));
}

// A tool that ignores the request to end, with a child that inherits the
// ignored signal: past the limit both are killed and the tool is reaped.
TEST(ToolRun, ATimeLimitEndsTheToolsProcessGroup)
{
    const gint64 start = g_get_monotonic_time();
    const char *const argv[] = {
        "sh", "-c", "trap '' TERM; echo $$ > pid; sleep 60 & echo $! > child; wait", nullptr};
    EXPECT_EQ(device_tool_run(argv, nullptr, 500, nullptr, nullptr), 0);
    EXPECT_LT(g_get_monotonic_time() - start, G_GINT64_CONSTANT(10000000));
    const pid_t pid = std::atoi(test_read_file(test_path("pid")).c_str());
    const pid_t child = std::atoi(test_read_file(test_path("child")).c_str());
    ASSERT_TRUE(pid > 0 && child > 0);
    EXPECT_TRUE(kill(pid, 0) != 0 && errno == ESRCH) << "the tool was reaped";
    // The orphaned child may take a moment to be reaped by init.
    EXPECT_TRUE(test_spin_until([&] { return !process_alive(child); }, 5000));
}
