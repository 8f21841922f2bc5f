// Where the program meets real files and ports: IDX saves that keep the file
// (as an unprivileged user and as root, on a full disk), and a port close
// that discards unsent output before it closes.
#include "support/emulator.h"

#include "device/serial_platform.h"
#include "index/document_commands.h"
#include "index/idx_list.h"
#include "tap_maker.h"

#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <termios.h>

namespace
{
const std::string cannot_save =
    " Could not save the list of index records. Check write and sharing permissions!";
const std::string disk_full = " Could not save the list of index records: the disk is full";
const std::string old_text = "0x14\t\tTape start\r\n0x200\t\tOld entry\r\n";
const std::string new_line = "0x300\t\tNew entry\r\n";
const std::vector<IdxRecord> new_rows{{20, "Tape start"}, {0x300, "New entry"}};
const std::string new_text = "0x14\t\tTape start\r\n" + new_line;

struct stat stat_of(const std::string &path)
{
    struct stat st = {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st;
}

// What serial_platform_close() did, call by call.
int port_seen = -1;
std::vector<std::string> calls_seen;
int note(const std::string &call, int fd, int result)
{
    calls_seen.push_back(call + (fd == port_seen ? " on the port: " : " elsewhere: ") +
                         std::to_string(result));
    return result;
}

// The window's list shows the IDX file at `path`, as after File > Open of
// the tape beside it (made when missing).
void show_idx(const std::string &path)
{
    test_app_start();
    const std::string tap = path.substr(0, path.rfind('.')) + ".tap";
    if (!fs::exists(tap))
        test_write_file(tap, tap_wrap(""));
    ASSERT_TRUE(document_attach(tap.c_str()));
}
} // namespace

TEST(RobustSave, AnUnprivilegedUserSavesWhatTheFileItselfAllows)
{
    // The user is nobody when the tests run as root, else whoever runs them.
    const bool root = geteuid() == 0;
    const uid_t uid = root ? 65534 : geteuid();
    const gid_t gid = root ? 65534 : getegid();
    ASSERT_EQ(chmod(test_dir().c_str(), 0711), 0);
    // A writable file in a folder the user may not write is saved in place;
    // a read-only file in a writable folder is left alone. (Folder, its mode,
    // the file's mode, saved.)
    const std::tuple<const char *, mode_t, mode_t, bool> cases[] = {{"locked", 0555, 0644, true},
                                                                    {"open", 0777, 0444, false}};
    for (const auto &[name, folder_mode, file_mode, saved] : cases) {
        const std::string folder = test_path(name), idx = folder + "/game.idx";
        fs::create_directory(folder);
        test_write_file(idx, old_text);
        test_write_file(folder + "/game.tap", tap_wrap(""));
        ASSERT_EQ(chown(idx.c_str(), uid, gid), 0);
        ASSERT_EQ(chmod(idx.c_str(), file_mode) | chmod(folder.c_str(), folder_mode), 0);
    }
    // The window comes up first: the X server is the one of the test runner.
    auto as_user = [&] {
        test_app_start();
        if (root && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
            std::_Exit(2);
        for (const auto &[name, folder_mode, file_mode, saved] : cases) {
            SCOPED_TRACE(name);
            const std::string folder = test_path(name), idx = folder + "/game.idx";
            const ino_t inode = stat_of(idx).st_ino;
            show_idx(idx);
            idx_list_append(0x300, "New entry");
            test_click("button_index_save");
            EXPECT_EQ(test_status_text(), saved ? " IDX list saved to file" : cannot_save);
            EXPECT_EQ(test_read_file(idx), saved ? old_text + new_line : old_text);
            EXPECT_EQ(stat_of(idx).st_ino, inode);
            EXPECT_EQ(stat_of(idx).st_mode & 07777, file_mode);
            EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 2);
        }
        std::_Exit(testing::Test::HasFailure()); // its failures show only here
    };
    EXPECT_EXIT(as_user(), testing::ExitedWithCode(0), "");
}

// Links that another user planted in a shared folder are not followed; a
// full disk keeps the previous file and says so.
TEST(RobustSave, RootKeepsOwnerModeAttributesAndLinksButNotAPlantedOneNorAFullDisk)
{
    test_app_start();
    if (geteuid() != 0)
        GTEST_SKIP() << "giving a file to another user needs root";
    const std::string owned = test_path("owned.idx"), target = test_path("target.idx"),
                      pointer = test_path("pointer.idx");
    for (const std::string &path : {owned, target})
        test_write_file(path, old_text);
    ASSERT_EQ(chown(owned.c_str(), 65534, 65534) | chmod(owned.c_str(), 0640), 0);
    const bool has_xattrs = setxattr(owned.c_str(), "user.shelf", "3", 1, 0) == 0;
    ASSERT_EQ(symlink(target.c_str(), pointer.c_str()), 0);
    const struct stat owned_before = stat_of(owned);
    for (const std::string &path : {owned, pointer})
        EXPECT_TRUE(document_save_idx(path.c_str(), new_rows) &&
                    test_status_text() == " The list of index records was saved")
            << path;
    for (const std::string &path : {owned, target})
        EXPECT_EQ(test_read_file(path), new_text) << path;
    const auto identity = [](const struct stat &st) {
        return std::tuple(st.st_uid, st.st_gid, st.st_mode);
    };
    EXPECT_EQ(identity(stat_of(owned)), identity(owned_before));
    char shelf = 0; // where the file system has user.* attributes
    EXPECT_TRUE(!has_xattrs ||
                (getxattr(owned.c_str(), "user.shelf", &shelf, 1) == 1 && shelf == '3'));
    EXPECT_EQ(fs::read_symlink(pointer), target);

    // In a folder like /tmp, nobody's links: to the user's private file,
    // reached through the user's own link too, and to a file not there yet.
    const std::string shared = test_path("shared"), mine = test_path("mine.idx"),
                      planted = shared + "/t.idx", own = shared + "/own.idx",
                      dangling = shared + "/new.idx";
    fs::create_directory(shared);
    test_write_file(mine, old_text);
    ASSERT_EQ(chmod(shared.c_str(), 01777) | chmod(mine.c_str(), 0600), 0);
    ASSERT_EQ(symlink(mine.c_str(), planted.c_str()) | symlink("t.idx", own.c_str()) |
                  symlink((shared + "/none.idx").c_str(), dangling.c_str()) |
                  lchown(dangling.c_str(), 65534, 65534),
              0);
    // Refused while the link is nobody's; followed once it is the user's.
    const std::pair<std::string, uid_t> cases[] = {
        {planted, 65534}, {own, 65534}, {dangling, 65534}, {own, 0}};
    for (const auto &[path, owner] : cases) {
        SCOPED_TRACE(path);
        ASSERT_EQ(lchown(planted.c_str(), owner, owner), 0);
        const bool followed = owner == 0;
        show_idx(path);
        idx_list_append(0x300, "New entry");
        test_click("button_index_save");
        EXPECT_EQ(test_status_text(), followed ? " IDX list saved to file" : cannot_save);
        EXPECT_EQ(test_read_file(mine), followed ? old_text + new_line : old_text);
        EXPECT_EQ(fs::read_symlink(planted), mine);
        EXPECT_EQ(
            std::count_if(fs::directory_iterator(shared), {},
                          [](const auto &entry) { return entry.path().extension() != ".tap"; }),
            3);
    }

    const std::string folder = test_path("full"), idx = folder + "/game.idx";
    fs::create_directory(folder);
    if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    test_write_file(idx, old_text);
    const std::vector<IdxRecord> too_big{{20, "Tape start"}, {0x300, std::string(60000, 'x')}};
    // Through a temporary copy, also through a link (the pointer, re-aimed):
    // the previous file byte for byte, no copy left, no half-written new file.
    ASSERT_TRUE(fs::remove(pointer) && symlink(idx.c_str(), pointer.c_str()) == 0);
    for (const std::string &path : {idx, pointer, folder + "/new.idx"})
        EXPECT_TRUE(!document_save_idx(path.c_str(), too_big) && test_status_text() == disk_full)
            << path;
    EXPECT_EQ(test_read_file(idx), old_text);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1);
    // In place (a file with two names) a failure halfway is reported too.
    ASSERT_EQ(link(idx.c_str(), (folder + "/twin.idx").c_str()), 0);
    EXPECT_TRUE(!document_save_idx(idx.c_str(), too_big) && test_status_text() == disk_full);
    EXPECT_TRUE(document_save_idx(idx.c_str(), new_rows));
    EXPECT_EQ(test_read_file(folder + "/twin.idx"), new_text);
    umount2(folder.c_str(), MNT_DETACH);
}

TEST(RobustPort, CloseDiscardsUnsentOutputBeforeClosing)
{
    PtyDevice device;
    int error = 0;
    port_seen = serial_platform_open(device.slave.c_str(), &error);
    ASSERT_GE(port_seen, 0);
    ASSERT_EQ(serial_platform_write(port_seen, "unsent", 6, 500), 6);
    // The system's own calls, each noted as it returns: only on a port that
    // is still open do they succeed.
    const SerialCloseCalls system = serial_platform_set_close_calls(
        {[](int fd, int queue) {
             return note(queue == TCOFLUSH ? "discard output" : "flush", fd, tcflush(fd, queue));
         },
         [](int fd) { return note("close", fd, close(fd)); }});
    serial_platform_close(port_seen);
    serial_platform_set_close_calls(system);
    EXPECT_EQ(calls_seen,
              (std::vector<std::string>{"discard output on the port: 0", "close on the port: 0"}));
}
