// Saving an IDX file: the text on disk, the two status messages, and the
// previous file kept intact whenever a save fails.
#include "index/idx_format.h"

#include "support/harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{

const char *const saved_message = " The list of index records was saved";
const char *const failed_message =
    " Could not save the list of index records. Check write and sharing permissions!";

std::vector<std::string> folder_entries(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<IdxRecord> many_rows(int count)
{
    std::vector<IdxRecord> rows;
    for (int i = 0; i < count; ++i)
        rows.push_back({20 + i * 100, "Record number " + std::to_string(i)});
    return rows;
}

// A small tmpfs of our own: full after `size`, or read-only on request.
// Mounting needs root (CAP_SYS_ADMIN); without it the test is skipped.
class ScratchMount
{
  public:
    explicit ScratchMount(const std::string &folder, const char *size = "64k") : folder_(folder)
    {
        fs::create_directories(folder_);
        const std::string options = std::string("size=") + size + ",mode=0755";
        if (mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0)
            mounted_ = true;
        else
            error_ = std::strerror(errno);
    }
    ~ScratchMount()
    {
        if (mounted_)
            umount2(folder_.c_str(), MNT_DETACH);
    }
    ScratchMount(const ScratchMount &) = delete;
    ScratchMount &operator=(const ScratchMount &) = delete;

    bool mounted() const { return mounted_; }
    const std::string &error() const { return error_; }
    bool make_read_only()
    {
        return mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

  private:
    std::string folder_;
    bool mounted_ = false;
    std::string error_;
};

} // namespace

TEST(IdxSave, WritesCrLfLinesAndReportsSuccess)
{
    test_app_start();
    const std::string path = test_path("game.idx");
    test_write_file(path, "old content that is longer than the new one\r\n");

    ASSERT_TRUE(idx_save_file(path.c_str(), {{20, "Tape start"}, {0x100000, ""}}));
    EXPECT_EQ(test_read_file(path), "0x14\t\tTape start\r\n0x100000\t<Missing info>\r\n");
    EXPECT_EQ(test_status_text(), saved_message);
    // The temporary file became the IDX file; nothing else is left behind.
    EXPECT_EQ(folder_entries(test_path("")), (std::vector<std::string>{"config", "game.idx"}));

    ASSERT_TRUE(idx_save_file(path.c_str(), {}));
    EXPECT_EQ(test_read_file(path), "");
}

TEST(IdxSave, KeepsThePermissionsOfTheFileItReplaces)
{
    test_app_start();
    const std::string path = test_path("game.idx");
    test_write_file(path, "0x14 old\n");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(idx_save_file(path.c_str(), {{20, "new"}}));
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    // A new file gets the usual permissions (0666 less the umask), not the
    // private ones of a temporary file.
    const mode_t mask = umask(022);
    const std::string fresh = test_path("fresh.idx");
    ASSERT_TRUE(idx_save_file(fresh.c_str(), {{20, "new"}}));
    umask(mask);
    ASSERT_EQ(stat(fresh.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
}

TEST(IdxSave, WritesThroughASymbolicLink)
{
    test_app_start();
    fs::create_directory(test_path("real"));
    const std::string target = test_path("real/game.idx");
    test_write_file(target, "0x14 old\n");
    const std::string link = test_path("game.idx");
    fs::create_symlink(target, link);

    ASSERT_TRUE(idx_save_file(link.c_str(), {{0x30, "new"}}));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(test_read_file(target), "0x30\t\tnew\r\n");
    EXPECT_EQ(folder_entries(test_path("real")), (std::vector<std::string>{"game.idx"}));
}

TEST(IdxSave, MissingFolderOrAFolderInTheWayFails)
{
    test_app_start();
    EXPECT_FALSE(idx_save_file(test_path("no/such/folder/game.idx").c_str(), {{20, "x"}}));
    EXPECT_EQ(test_status_text(), failed_message);
    EXPECT_FALSE(fs::exists(test_path("no")));

    // A folder where the IDX file should be: the rename fails, the folder and
    // its content stay, and the temporary file is removed.
    fs::create_directories(test_path("game.idx/inner"));
    EXPECT_FALSE(idx_save_file(test_path("game.idx").c_str(), {{20, "x"}}));
    EXPECT_EQ(test_status_text(), failed_message);
    EXPECT_TRUE(fs::is_directory(test_path("game.idx/inner")));
    EXPECT_EQ(folder_entries(test_path("")), (std::vector<std::string>{"config", "game.idx"}));
}

TEST(IdxSave, ReadOnlyFolderKeepsThePreviousFile)
{
    test_app_start();
    const std::string folder = test_path("readonly");
    ScratchMount scratch(folder);
    if (!scratch.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << scratch.error();
    const std::string path = folder + "/game.idx";
    const std::string previous = "0x14\t\tTape start\r\n0x200\t\tOld entry\r\n";
    test_write_file(path, previous);
    ASSERT_TRUE(scratch.make_read_only());

    EXPECT_FALSE(idx_save_file(path.c_str(), {{20, "Tape start"}, {0x300, "New entry"}}));
    EXPECT_EQ(test_status_text(), failed_message);
    EXPECT_EQ(test_read_file(path), previous);
    EXPECT_EQ(folder_entries(folder), (std::vector<std::string>{"game.idx"}));

    // No file is created either.
    EXPECT_FALSE(idx_save_file((folder + "/other.idx").c_str(), {{20, "x"}}));
    EXPECT_EQ(folder_entries(folder), (std::vector<std::string>{"game.idx"}));
}

TEST(IdxSave, FullDeviceKeepsThePreviousFile)
{
    test_app_start();
    const std::string folder = test_path("full");
    ScratchMount scratch(folder, "16k");
    if (!scratch.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << scratch.error();
    const std::string path = folder + "/game.idx";
    const std::string previous = "0x14\t\tTape start\r\n0x200\t\tOld entry\r\n";
    test_write_file(path, previous);

    // About 60 KiB of lines: far more than the 16 KiB device holds.
    EXPECT_FALSE(idx_save_file(path.c_str(), many_rows(2000)));
    EXPECT_EQ(test_status_text(), failed_message);
    EXPECT_EQ(test_read_file(path), previous);
    EXPECT_EQ(folder_entries(folder), (std::vector<std::string>{"game.idx"}));

    // A list that fits is saved on the same device afterwards.
    EXPECT_TRUE(idx_save_file(path.c_str(), many_rows(10)));
    EXPECT_EQ(test_status_text(), saved_message);
    EXPECT_EQ(test_read_file(path), idx_format_records(many_rows(10)));
}
