// The embedded firmware image, its file, and the build's image tool.
#include "support/avrdude_fixture.h"
#include "support/harness.h"

#include "maintenance/firmware.h"

#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

namespace
{

std::string embedded_image()
{
    return std::string(device_firmware_image, device_firmware_image_length);
}

int nibble(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1; // lower case counts as wrong: the image uses capitals
}

// Splits on CR LF; false when a CR or LF appears other than as a pair, or
// the text does not end with one.
bool split_lines(const std::string &text, std::vector<std::string> &lines)
{
    std::string::size_type pos = 0;
    while (pos < text.size()) {
        const auto crlf = text.find("\r\n", pos);
        if (crlf == std::string::npos)
            return false;
        const std::string line = text.substr(pos, crlf - pos);
        if (line.find_first_of("\r\n") != std::string::npos)
            return false;
        lines.push_back(line);
        pos = crlf + 2;
    }
    return true;
}

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the build's image tool with `args`.
ToolRun image_tool(const std::vector<std::string> &args)
{
    std::vector<gchar *> argv;
    static std::string program = RAVELO_TOOLS_DIR "/firmware/ravelo-firmware";
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string &a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    ToolRun run;
    gchar *out = nullptr;
    gchar *err = nullptr;
    gint wait_status = 0;
    GError *error = nullptr;
    if (!g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &out, &err,
                      &wait_status, &error)) {
        ADD_FAILURE() << "cannot run " << program << ": " << error->message;
        g_error_free(error);
        return run;
    }
    run.out = out;
    run.err = err;
    g_free(out);
    g_free(err);
    run.status = g_spawn_check_wait_status(wait_status, nullptr) ? 0 : 1;
    return run;
}

std::string generated_placeholder()
{
    const std::string path = test_path("placeholder.hex");
    EXPECT_EQ(image_tool({"generate", path}).status, 0);
    return test_read_file(path);
}

} // namespace

// The embedded image is laid out as the device's image: a substitute of
// another form is caught here if the build's warnings went unread.
TEST(FirmwareImage, HasTheDevicesLayout)
{
    const std::string image = embedded_image();
    EXPECT_EQ(image.size(), 22661u);
    EXPECT_EQ(image.find('\0'), std::string::npos);

    std::vector<std::string> lines;
    ASSERT_TRUE(split_lines(image, lines)) << "every line must end with CR LF, and only lines";
    ASSERT_EQ(lines.size(), 505u);
    EXPECT_EQ(lines.back(), ":00000001FF");

    unsigned expected_address = 0;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        SCOPED_TRACE("record " + std::to_string(i + 1) + ": " + lines[i]);
        const std::string &line = lines[i];
        ASSERT_GE(line.size(), 11u);
        ASSERT_EQ(line[0], ':');
        ASSERT_EQ(line.size() % 2, 1u);
        std::vector<unsigned> bytes;
        for (std::size_t d = 1; d < line.size(); d += 2) {
            const int hi = nibble(line[d]);
            const int lo = nibble(line[d + 1]);
            ASSERT_GE(hi, 0) << "not a capital hex digit";
            ASSERT_GE(lo, 0) << "not a capital hex digit";
            bytes.push_back(unsigned(hi * 16 + lo));
        }
        const unsigned count = i < 502 ? 16 : 8;
        EXPECT_EQ(bytes[0], count);
        EXPECT_EQ(bytes.size(), count + 5);
        EXPECT_EQ(bytes[1] * 256 + bytes[2], expected_address);
        EXPECT_EQ(bytes[3], 0x00u) << "only data records before the end";
        unsigned sum = 0;
        for (unsigned b : bytes)
            sum += b;
        EXPECT_EQ(sum % 256, 0u) << "checksum";
        expected_address += count;
    }
    EXPECT_EQ(expected_address, 0x1F70u);
    EXPECT_EQ(hex_data_bytes(image).size(), 8048u);
}

TEST(FirmwareFile, WriteCreatesTheWholeImageAndReplacesAnOldFile)
{
    ASSERT_FALSE(g_file_test("ravelo32u4.hex", G_FILE_TEST_EXISTS));
    EXPECT_EQ(device_firmware_write(), 1);
    EXPECT_EQ(test_read_file(test_path("ravelo32u4.hex")), embedded_image());
    // Longer than the image: a write that did not truncate would leave a
    // tail the tool reads as garbage records.
    test_write_file(test_path("ravelo32u4.hex"), std::string(40000, 'x'));
    EXPECT_EQ(device_firmware_write(), 1);
    EXPECT_EQ(test_read_file(test_path("ravelo32u4.hex")), embedded_image());
}

TEST(FirmwareFile, WriteFailsWhenTheNameIsTakenAndLeavesNothing)
{
    ASSERT_EQ(g_mkdir(test_path("ravelo32u4.hex").c_str(), 0755), 0);
    EXPECT_EQ(device_firmware_write(), 0);
    EXPECT_TRUE(g_file_test("ravelo32u4.hex", G_FILE_TEST_IS_DIR));
    // No temporary file of the failed write stays behind.
    GDir *dir = g_dir_open(test_dir().c_str(), 0, nullptr);
    ASSERT_NE(dir, nullptr);
    while (const gchar *name = g_dir_read_name(dir))
        EXPECT_FALSE(g_str_has_prefix(name, "ravelo32u4.hex.")) << name;
    g_dir_close(dir);
}

TEST(FirmwareFile, DeleteRemovesItAndToleratesAbsence)
{
    ASSERT_EQ(device_firmware_write(), 1);
    EXPECT_EQ(device_firmware_delete(), 1);
    EXPECT_FALSE(g_file_test("ravelo32u4.hex", G_FILE_TEST_EXISTS));
    EXPECT_EQ(device_firmware_delete(), 0);
    EXPECT_FALSE(g_file_test("ravelo32u4.hex", G_FILE_TEST_EXISTS));
}

TEST(FirmwareTool, GeneratesAHarmlessImageOfTheDevicesLayout)
{
    const std::string image = generated_placeholder();
    EXPECT_EQ(image.size(), 22661u);
    EXPECT_EQ(generated_placeholder(), image) << "the placeholder must be reproducible";

    const ToolRun check = image_tool({"check", test_path("placeholder.hex")});
    EXPECT_EQ(check.status, 0);
    EXPECT_NE(check.out.find("505 records, 8048 data bytes at 0x0000-0x1F6F, 22661 bytes\n"),
              std::string::npos)
        << check.out;
    EXPECT_EQ(check.err, "") << "no warnings for the device's layout";

    // Reset vector: cli, then a jump to itself.
    const std::vector<unsigned char> data = hex_data_bytes(image);
    ASSERT_EQ(data.size(), 8048u);
    EXPECT_EQ(data[0], 0xF8);
    EXPECT_EQ(data[1], 0x94);
    EXPECT_EQ(data[2], 0xFF);
    EXPECT_EQ(data[3], 0xCF);
    // Every later row names its own address.
    EXPECT_EQ(std::string(data.begin() + 0x10, data.begin() + 0x20), "Ravelo stub 0010");
    EXPECT_EQ(std::string(data.begin() + 0x1F60, data.end()), "Ravelo stub 1F60");
}

TEST(FirmwareTool, RejectsMalformedImagesAndNamesTheLine)
{
    const std::string good = generated_placeholder();
    ASSERT_EQ(good.size(), 22661u);
    const std::string::size_type line3 = 2 * 45; // two 16-byte records of 45 bytes each

    struct Case {
        const char *what;
        std::string image;
        const char *expected;
    };
    std::string bad_sum = good;
    bad_sum[line3 + 41] = bad_sum[line3 + 41] == '0' ? '1' : '0';
    std::string bad_digit = good;
    bad_digit[line3 + 12] = 'G';
    std::string bad_count = good;
    bad_count[line3 + 2] = 'F';
    std::string lf_only;
    for (char c : good)
        if (c != '\r')
            lf_only += c;
    std::string with_nul = good;
    with_nul[line3 + 5] = '\0';
    const std::string no_end = good.substr(0, good.size() - 13);
    const std::string after_end = good + ":00000001FF\r\n";
    const std::string no_last_crlf = good.substr(0, good.size() - 2);
    std::string bad_start = good;
    bad_start[line3] = ';';
    const std::vector<Case> cases = {
        {"checksum", bad_sum, "line 3: checksum is"},
        {"digit", bad_digit, "line 3: is not an even number of hexadecimal digits"},
        {"count", bad_count, "line 3: byte count says"},
        {"line ends", lf_only, "line 1: does not end with CR LF"},
        {"NUL", with_nul, "NUL byte at offset 95"},
        {"end record", no_end, "no end record"},
        {"after end", after_end, "line 506: follows the end record"},
        {"last line end", no_last_crlf, "line 505: does not end with CR LF"},
        {"colon", bad_start, "line 3: does not begin with ':'"},
        {"empty", "", "the image is empty"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string in = test_path("bad.hex");
        const std::string out = test_path("bad.cpp");
        test_write_file(in, c.image);
        const ToolRun check = image_tool({"check", in});
        EXPECT_EQ(check.status, 1);
        EXPECT_NE(check.err.find(c.expected), std::string::npos) << check.err;
        // The build step fails and leaves no source that a later build
        // would take as up to date.
        EXPECT_EQ(image_tool({"embed", in, out}).status, 1);
        EXPECT_FALSE(g_file_test(out.c_str(), G_FILE_TEST_EXISTS));
        EXPECT_FALSE(g_file_test((out + ".tmp").c_str(), G_FILE_TEST_EXISTS));
    }
}

TEST(FirmwareTool, AcceptsAnotherLayoutWithWarnings)
{
    const std::string image = ":0400000001020304F2\r\n:00000001FF\r\n";
    const std::string in = test_path("small.hex");
    test_write_file(in, image);
    const ToolRun check = image_tool({"check", in});
    EXPECT_EQ(check.status, 0);
    EXPECT_NE(check.out.find("2 records, 4 data bytes at 0x0000-0x0003, 34 bytes"),
              std::string::npos)
        << check.out;
    EXPECT_NE(check.err.find("warning: not 502 data records"), std::string::npos) << check.err;
    EXPECT_NE(check.err.find("warning: length is not 22661 bytes"), std::string::npos);
}

TEST(FirmwareTool, EmbedsEveryByteWithoutATerminator)
{
    const std::string image = ":0400000001020304F2\r\n:00000001FF\r\n";
    const std::string in = test_path("small.hex");
    const std::string out = test_path("small.cpp");
    test_write_file(in, image);
    ASSERT_EQ(image_tool({"embed", in, out}).status, 0);
    const std::string source = test_read_file(out);
    EXPECT_NE(source.find("const char device_firmware_image[34] = {"), std::string::npos) << source;
    const auto open = source.find('{');
    const auto close = source.find('}');
    ASSERT_NE(open, std::string::npos);
    ASSERT_NE(close, std::string::npos);
    std::istringstream list(source.substr(open + 1, close - open - 1));
    std::string listed;
    unsigned value = 0;
    char comma = 0;
    while (list >> value >> comma && comma == ',')
        listed += char(value);
    EXPECT_EQ(listed, image);
}
