// The emulated device's jump to its AVR109 bootloader, used by the real
// avrdude as the client's firmware update runs it.
#include "support/avrdude_fixture.h"
#include "support/emulator.h"
#include "support/harness.h"

#include "maintenance/firmware.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

TEST(EmulatorBootloader, TheRealAvrdudeWritesAndVerifiesThroughIt)
{
    ASSERT_EQ(std::system("command -v avrdude >/dev/null"), 0) << "avrdude (Debian package)";
    Emulator emulator;
    ASSERT_TRUE(emulator.ok());
    ASSERT_TRUE(avrdude_fixture_write(test_dir()));
    // The client's image: 62 full pages and a partial one, which avrdude
    // fills by reading the page first.
    const std::string image(device_firmware_image, device_firmware_image_length);
    test_write_file(test_path("image.hex"), image);

    // "b\r" at the console, as the client's reset sends it: the console's
    // port vanishes as an unplugged device's does, the bootloader's appears.
    PtyClient console(emulator.link());
    ASSERT_NE(console.read_until("\r\n> ").find("\r\n> "), std::string::npos);
    ASSERT_TRUE(console.write("b\r"));
    console.read_for(500);
    EXPECT_TRUE(console.hung_up());
    EXPECT_TRUE(emulator_wait_path(emulator.link(), false));
    ASSERT_TRUE(emulator_wait_path(emulator.bootloader_link(), true));

    // The command line the client runs, with a time limit of the test's own.
    const std::string command =
        "timeout -s KILL 60 avrdude -Cavrdude.conf -v -pravelo -cavr109 -P" +
        emulator.bootloader_link() + " -b57600 -D -Uflash:w:image.hex:i >avrdude.log 2>&1";
    const int status = std::system(command.c_str());
    const std::string log = test_read_file(test_path("avrdude.log"));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log;
    EXPECT_NE(log.find(" bytes of flash verified"), std::string::npos) << log;
    // The flash dump holds the image's data; the rest of its page is erased.
    const std::vector<unsigned char> bytes = hex_data_bytes(image);
    std::string expected(bytes.begin(), bytes.end());
    const std::string flash = test_read_file(emulator.flash_path());
    ASSERT_GE(flash.size(), expected.size());
    expected.resize(flash.size(), '\xFF');
    EXPECT_TRUE(flash == expected);

    // Leaving the bootloader starts the application again.
    ASSERT_TRUE(emulator_wait_path(emulator.link(), true));
    ASSERT_TRUE(console.open(emulator.link()));
    EXPECT_NE(console.read_until("\r\n> ").find("\r\n> "), std::string::npos);
}
