// The configuration file: where it lives, what is written, what is read.
// Every test case runs in a process of its own with XDG_CONFIG_HOME pointing
// into its private folder; the user's configuration folder is fixed by the
// first call that asks for it, so a test that moves it does so first.
#include "config/config.h"

#include "support/harness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/mount.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace
{

const std::string header = "# Ravelo playback client config file - do NOT edit\n";

std::string five_lines(const std::string &device, const std::string &bootloader)
{
    return header + "\n[connection]\ndevice_port=" + device + "\nbootloader_port=" + bootloader +
           "\n";
}

std::string default_file()
{
    return five_lines("/dev/ttyACM0", "/dev/ttyACM1");
}

std::string config_folder()
{
    return test_path("config/ravelo-client");
}

std::string config_file()
{
    return config_folder() + "/user.ini";
}

// Puts a file in place before the program looks for it.
void prepare(const std::string &content)
{
    fs::create_directories(config_folder());
    test_write_file(config_file(), content);
}

void set_ports(const char *device, const char *bootloader)
{
    g_free(device_port);
    device_port = g_strdup(device);
    g_free(bootloader_port);
    bootloader_port = g_strdup(bootloader);
}

} // namespace

TEST(ConfigFile, FirstStartWritesExactlyTheFiveLines)
{
    ASSERT_FALSE(fs::exists(config_folder()));
    config_init();
    EXPECT_STREQ(config_file_path, config_file().c_str());
    EXPECT_STREQ(device_port, "/dev/ttyACM0");
    EXPECT_STREQ(bootloader_port, "/dev/ttyACM1");
    EXPECT_EQ(test_read_file(config_file()), default_file());
    struct stat info;
    ASSERT_EQ(stat(config_folder().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    // The values are fresh copies each: replacing one leaves the other.
    EXPECT_NE(device_port, config_default_device_port);
}

TEST(ConfigFile, PartialFileGivesDefaultsAndStaysAsItWas)
{
    const std::string content = "[connection]\ndevice_port=/dev/ttyUSB7\n";
    prepare(content);
    config_init();
    EXPECT_STREQ(device_port, "/dev/ttyUSB7");
    EXPECT_STREQ(bootloader_port, "/dev/ttyACM1");
    EXPECT_EQ(test_read_file(config_file()), content);
}

TEST(ConfigFile, BothKeysAreRead)
{
    prepare("# mine\n[connection]\nbootloader_port=/dev/ttyS9\ndevice_port=/dev/ttyS8\n");
    config_init();
    EXPECT_STREQ(device_port, "/dev/ttyS8");
    EXPECT_STREQ(bootloader_port, "/dev/ttyS9");
}

TEST(ConfigFile, EmptyDevicePortIsKeptEmpty)
{
    const std::string content = five_lines("", "/dev/ttyACM5");
    prepare(content);
    config_init();
    ASSERT_NE(device_port, nullptr);
    EXPECT_STREQ(device_port, "");
    EXPECT_STREQ(bootloader_port, "/dev/ttyACM5");
    EXPECT_EQ(test_read_file(config_file()), content);
}

TEST(ConfigFile, UnparsableOrUnreadableFilesAreLeftUntouched)
{
    const std::string content = "device_port /dev/ttyUSB0\nno equals sign here\n";
    prepare(content);
    config_init();
    EXPECT_STREQ(device_port, "/dev/ttyACM0");
    EXPECT_STREQ(bootloader_port, "/dev/ttyACM1");
    EXPECT_EQ(test_read_file(config_file()), content);

    // A value that is not UTF-8 cannot be read as a string: its default.
    const std::string latin1 = "[connection]\ndevice_port=/dev/caf\xe9\nbootloader_port=/dev/b\n";
    test_write_file(config_file(), latin1);
    config_load();
    EXPECT_STREQ(device_port, "/dev/ttyACM0");
    EXPECT_STREQ(bootloader_port, "/dev/b");
    EXPECT_EQ(test_read_file(config_file()), latin1);

    // A folder in the file's place: defaults, and the folder stays.
    fs::remove(config_file());
    fs::create_directory(config_file());
    set_ports("x", "y");
    config_load();
    EXPECT_STREQ(device_port, "/dev/ttyACM0");
    EXPECT_STREQ(bootloader_port, "/dev/ttyACM1");
    EXPECT_TRUE(fs::is_directory(config_file()));
}

TEST(ConfigFile, ExtraGroupsAndKeysAreIgnoredAndGoneAfterSave)
{
    prepare("[other]\ndevice_port=/dev/wrong\n[connection]\ncolour=blue\n"
            "device_port=/dev/ttyUSB1\n");
    config_init();
    EXPECT_STREQ(device_port, "/dev/ttyUSB1");
    EXPECT_STREQ(bootloader_port, "/dev/ttyACM1");
    EXPECT_EQ(config_save(), 1);
    EXPECT_EQ(test_read_file(config_file()), five_lines("/dev/ttyUSB1", "/dev/ttyACM1"));
}

TEST(ConfigFile, SaveWritesValuesAsTheyStand)
{
    config_init();
    set_ports("  /dev/ttyUSB0", "COM4");
    EXPECT_EQ(config_save(), 1);
    // Only the blanks right after the equals sign go.
    EXPECT_EQ(test_read_file(config_file()), five_lines("/dev/ttyUSB0", "COM4"));
    set_ports("", "");
    EXPECT_EQ(config_save(), 1);
    EXPECT_EQ(test_read_file(config_file()), five_lines("", ""));
    config_load();
    EXPECT_STREQ(device_port, "");
    EXPECT_STREQ(bootloader_port, "");
}

TEST(ConfigFile, ValueThatWouldBreakTheSyntaxWritesNothing)
{
    config_init();
    const std::string before = test_read_file(config_file());
    set_ports("/dev/tty\nUSB0", "/dev/ttyACM1");
    EXPECT_EQ(config_save(), 0);
    EXPECT_EQ(test_read_file(config_file()), before);
    set_ports("/dev/ttyUSB0", "[group]");
    EXPECT_EQ(config_save(), 1);
}

TEST(ConfigFile, MissingParentFoldersAreCreated)
{
    const std::string base = test_path("fresh/account/.config");
    setenv("XDG_CONFIG_HOME", base.c_str(), 1);
    config_init();
    EXPECT_STREQ(config_file_path, (base + "/ravelo-client/user.ini").c_str());
    EXPECT_EQ(test_read_file(config_file_path), default_file());
    struct stat info;
    ASSERT_EQ(stat((base + "/ravelo-client").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(ConfigFile, FolderThatCannotBeCreatedFallsBackToTheCurrentDirectory)
{
    // A regular file where a folder would have to be: mkdir fails, even for
    // root.
    test_write_file(test_path("blocker"), "");
    const std::string base = test_path("blocker/config");
    setenv("XDG_CONFIG_HOME", base.c_str(), 1);
    config_init();
    EXPECT_STREQ(config_file_path, test_path("user.ini").c_str());
    EXPECT_EQ(test_read_file(test_path("user.ini")), default_file());
    EXPECT_STREQ(device_port, "/dev/ttyACM0");
}

TEST(ConfigFile, AFileNamedLikeTheFolderFallsBackToTheCurrentDirectory)
{
    test_write_file(config_folder(), "not a folder");
    config_init();
    EXPECT_STREQ(config_file_path, test_path("user.ini").c_str());
    EXPECT_EQ(test_read_file(test_path("user.ini")), default_file());
    EXPECT_EQ(test_read_file(config_folder()), "not a folder");
}

TEST(ConfigFile, ExistingFileIsNotRewrittenByLoading)
{
    const std::string content = five_lines("/dev/ttyUSB3", "/dev/ttyUSB4") + "# extra\n";
    prepare(content);
    struct stat before;
    ASSERT_EQ(stat(config_file().c_str(), &before), 0);
    config_init();
    config_load();
    struct stat after;
    ASSERT_EQ(stat(config_file().c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(test_read_file(config_file()), content);
}

TEST(ConfigFile, FailedFirstSaveIsSilentAndTriedAgainNextTime)
{
    // A read-only folder, which root cannot write either: a tmpfs remounted
    // read-only. Mounting needs root; without it the case is skipped.
    fs::create_directories(config_folder());
    if (mount("tmpfs", config_folder().c_str(), "tmpfs", 0, "size=16k,mode=0700") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    const bool read_only =
        mount(nullptr, config_folder().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    if (read_only) {
        config_init();
        EXPECT_STREQ(device_port, "/dev/ttyACM0");
        EXPECT_STREQ(bootloader_port, "/dev/ttyACM1");
        EXPECT_FALSE(fs::exists(config_file()));
        EXPECT_EQ(config_save(), 0);
        ASSERT_EQ(mount(nullptr, config_folder().c_str(), nullptr, MS_REMOUNT, nullptr), 0);
        // The next start (here: the next load) creates it.
        config_load();
        EXPECT_EQ(test_read_file(config_file()), default_file());
    }
    umount2(config_folder().c_str(), MNT_DETACH);
    ASSERT_TRUE(read_only);
}
