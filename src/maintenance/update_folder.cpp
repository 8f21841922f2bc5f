#include "maintenance/update_folder.h"

#include "base/fd.h"
#include "base/glib_ptr.h"
#include "maintenance/firmware.h"

#include <glib.h>

#include <fcntl.h>
#include <ftw.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr char dir_prefix[] = "ravelo-update-";

// Appended to the system's configuration: the device's ATmega32U4 under
// the id that the tool's command line names.
constexpr char ravelo_part[] = "\n# The device's microcontroller.\n"
                               "part parent \"m32u4\"\n"
                               "    id = \"ravelo\";\n"
                               "    desc = \"Ravelo (ATmega32U4)\";\n"
                               ";\n";

// The lock on the folder of the update that runs in this client.
UniqueFd held_lock;

// Takes an exclusive lock on the folder `dir`, without waiting, into `fd`.
// false when the lock is held elsewhere or `dir` is not a real folder of
// this user.
bool dir_lock(const char *dir, UniqueFd &fd)
{
    fd.reset(open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    struct stat info = {};
    if (fd.get() < 0 || fstat(fd.get(), &info) != 0 || info.st_uid != getuid())
        return false;
    return fd_retry([&fd] { return flock(fd.get(), LOCK_EX | LOCK_NB); }) == 0;
}

// Writes the tool's configuration into `dir`: a copy of the working
// folder's own, or the system's with the part added.
bool config_write(const char *dir, const std::string &system)
{
    gchar *text = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(system.empty() ? maintenance_tool_config : system.c_str(), &text,
                             &length, nullptr))
        return false;
    std::string config(text, length);
    g_free(text);
    if (!system.empty())
        config += ravelo_part;
    GCharPtr path(g_build_filename(dir, maintenance_tool_config, nullptr));
    return g_file_set_contents(path.get(), config.data(), gssize(config.size()), nullptr);
}

int remove_entry(const char *path, const struct stat *, int, FTW *)
{
    remove(path);
    return 0;
}

} // namespace

std::string maintenance_folder_make(std::string_view image, const std::string &system_config)
{
    const GCharPtr dir(g_dir_make_tmp((std::string(dir_prefix) + "XXXXXX").c_str(), nullptr));
    if (!dir)
        return {};
    // Another client starting between making and locking may sweep the
    // folder away: then the files cannot be written and the update fails
    // here rather than run without them.
    if (!dir_lock(dir.get(), held_lock) || !maintenance_firmware_write(dir.get(), image) ||
        !config_write(dir.get(), system_config)) {
        maintenance_folder_release(dir.get());
        return {};
    }
    return dir.get();
}

void maintenance_folder_release(const std::string &dir)
{
    maintenance_folder_remove(dir);
    held_lock.reset();
}

void maintenance_folder_remove(const std::string &dir)
{
    if (!dir.empty())
        nftw(dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

void maintenance_folder_sweep()
{
    const gchar *tmp = g_get_tmp_dir();
    GDir *dir = g_dir_open(tmp, 0, nullptr);
    if (dir == nullptr)
        return;
    while (const gchar *name = g_dir_read_name(dir)) {
        if (!g_str_has_prefix(name, dir_prefix))
            continue;
        GCharPtr path(g_build_filename(tmp, name, nullptr));
        // Removed while locked: the client that has just made the folder
        // and not yet locked it finds it gone, never half removed.
        UniqueFd lock;
        if (dir_lock(path.get(), lock))
            maintenance_folder_remove(path.get());
    }
    g_dir_close(dir);
}
