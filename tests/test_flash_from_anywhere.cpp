// The firmware update as an installed client runs it: from any folder, with
// the tool from PATH in a private folder, its arguments one word each and
// its output in the log; ending mid-update; and why a port is busy.
#include "support/emulator.h"

#include "device/messages.h"
#include "maintenance/update_folder.h"

#include "tap_maker.h"

#include <gdk/gdkx.h>
#include <glib/gstdio.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <sstream>

namespace
{

// The tool's folder (a line end may follow) was not the working one; gone.
bool tool_folder_gone(std::string folder)
{
    folder = folder.substr(0, folder.find('\n'));
    return !folder.empty() && folder != fs::current_path() && !fs::exists(folder);
}

} // namespace

// The tool first on PATH runs, never one planted in the working folder; the
// configuration is the working folder's, else the system's with the part
// added; progress bars, redraws and stray bytes come out as readable lines.
TEST(FlashFromAnywhere, TheToolGetsOneWordPerArgumentAndItsLinesAreLogged)
{
    const std::string work = test_path("work"), system = test_path("system.conf");
    ASSERT_TRUE(g_mkdir(work.c_str(), 0755) == 0 && g_chdir(work.c_str()) == 0);
    test_write_file(system, "# the system's\n");
    test_write_file(work + "/avrdude", "#!/bin/sh\ntouch ~/planted-ran\n");
    ASSERT_EQ(chmod("avrdude", 0755), 0);
    ASSERT_TRUE(
        avrdude_fixture_write(work) &&
        avrdude_fixture_fake_tool(
            "[ \"$1\" = -v ] && echo '  System wide configuration file is \"" + system +
            "\"' && exit 1\n"
            "printf '%s\\n' \"$0\" \"$@\" \"$(readlink /proc/$$/fd/0)\" > ~/args; pwd > "
            "~/where; cp avrdude.conf ~/seen\n"
            "printf 'Writing | '; i=0\n"
            "while [ $i -lt 3000 ]; do printf '#'; i=$((i+1)); done; echo ' | 100%'\n"
            "for p in 1 50 100; do printf '\\rReading | %s%%' $p; done; printf '\\r\\n\\n'\n"
            "printf 'bad \\377 byte\\n' >&2; exit $(cat ~/status)"));
    for (const int run : {0, 1, 2}) { // succeeds, fails, succeeds with no avrdude.conf here
        SCOPED_TRACE(run);
        test_write_file(test_path("status"), std::to_string(run % 2));
        const std::string local = test_read_file(work + "/avrdude.conf");
        ASSERT_TRUE(run < 2 || g_remove("avrdude.conf") == 0);
        Emulator device;
        test_set_ports(device.link().c_str(), "boot port;x");
        const auto files = std::distance(fs::directory_iterator(work), {});
        const std::string log = test_log_text();
        gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_update")));
        ASSERT_TRUE(test_spin_until([] { return test_controls_are(true); }, 30000));
        EXPECT_EQ(test_status_text(),
                  run != 1 ? " Firmware update succeeded"
                           : std::string(" Firmware update failed: ") + device_msg_tool_failed);
        EXPECT_EQ(
            test_log_after(log),
            test_separator + "Updating device firmware\nFirmware update requested\nWriting | " +
                std::string(50, '#') + " | 100%\nReading | 100%\n" + "bad \xEF\xBF\xBD byte\n" +
                (run != 1 ? "Firmware update succeeded\nCompleted\n"
                          : "Cannot open port boot port;x: No such file or directory (is "
                            "the device plugged in? see /dev/serial/by-id/)\n"
                            "Firmware update failed: The avrdude executable exited with "
                            "error\nFailed\n"));
        EXPECT_EQ(test_read_file(test_path("args")),
                  test_path("fake-bin/avrdude") +
                      "\n-Cavrdude.conf\n-v\n-pravelo\n-cavr109\n-Pboot port;x\n"
                      "-b57600\n-D\n-Uflash:w:ravelo32u4.hex:i\n/dev/null\n");
        const std::string seen = test_read_file(test_path("seen"));
        EXPECT_TRUE(run < 2
                        ? seen == local
                        : seen.rfind("# the system's\n", 0) == 0 &&
                              seen.find("part parent \"m32u4\"\n    id = \"ravelo\";") != seen.npos)
            << seen.substr(0, 100);
        EXPECT_TRUE(tool_folder_gone(test_read_file(test_path("where"))));
        EXPECT_EQ(std::distance(fs::directory_iterator(work), {}), files);
    }
    EXPECT_FALSE(fs::exists(test_path("planted-ran")));
}

// Each way of ending mid-update ends the tool's group (which ignores SIGTERM)
// and removes its folder; after SIGKILL the next start sweeps the folder,
// but not one that an update holds, another user's or a link.
TEST(FlashFromAnywhere, EndingMidUpdateLeavesNothingBehind)
{
    // The pids appear whole (by rename), or the wait below could read half a file.
    ASSERT_TRUE(avrdude_fixture_write(test_dir()) &&
                avrdude_fixture_fake_tool("pwd > ~/where; trap '' TERM; sleep 60 &\n"
                                          "echo $$ $! > ~/pids.new && mv ~/pids.new ~/pids; wait"));
    const int quit = 0, display = -1,
              ways[][2] = {{quit, 0},        {SIGTERM, SIGTERM},          {SIGHUP, SIGHUP},
                           {SIGINT, SIGINT}, {display, W_EXITCODE(1, 0)}, {SIGKILL, SIGKILL}};
    std::string stale;
    for (const auto &[way, status] : ways) {
        SCOPED_TRACE(way);
        g_remove(test_path("pids").c_str());
        const auto scenario = [way = way] {
            Emulator device;
            test_set_ports(device.link().c_str(), device.bootloader_link().c_str());
            gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_update")));
            if (!test_spin_until([] { return fs::exists(test_path("pids")); }, 15000))
                std::_Exit(3);
            maintenance_folder_sweep(); // as another client's start would: the folder is held
            if (way == display)
                shutdown(ConnectionNumber(gdk_x11_get_default_xdisplay()), SHUT_RDWR);
            else if (way != quit)
                kill(getpid(), way);
            else
                g_idle_add(
                    [](gpointer) -> gboolean {
                        gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_quit")));
                        return FALSE;
                    },
                    nullptr);
            gtk_main();
            std::_Exit(0);
        };
        EXPECT_EXIT(
            scenario(), [status = status](int s) { return s == status; }, "");
        pid_t tool = 0, child = 0;
        std::istringstream(test_read_file(test_path("pids"))) >> tool >> child;
        ASSERT_TRUE(tool > 0 && child > 0);
        const auto gone = [](pid_t pid) { // or a zombie not yet reaped
            const std::string stat = test_read_file("/proc/" + std::to_string(pid) + "/stat");
            return stat.empty() || stat[stat.rfind(')') + 2] == 'Z';
        };
        EXPECT_TRUE(test_spin_until([&] { return gone(tool) && (way == SIGKILL || gone(child)); }));
        kill(child, SIGKILL);
        const std::string where = test_read_file(test_path("where"));
        EXPECT_EQ(tool_folder_gone(where), way != SIGKILL);
        stale = where.substr(0, where.find('\n')); // SIGKILL's, the last
    }
    const std::string held = test_owned(g_dir_make_tmp("ravelo-update-XXXXXX", nullptr)),
                      foreign = test_owned(g_dir_make_tmp("ravelo-update-XXXXXX", nullptr)),
                      link = held + "-link";
    const int lock = open(held.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_TRUE(flock(lock, LOCK_EX) == 0 && symlink(test_dir().c_str(), link.c_str()) == 0 &&
                (geteuid() != 0 || chown(foreign.c_str(), 65534, 65534) == 0));
    test_app_start();
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(held) && fs::is_symlink(link) &&
                (geteuid() != 0 || fs::exists(foreign)));
    close(lock);
    for (const std::string &path : {held, foreign, link})
        fs::remove(path);
}

// A port that another program holds: the log says why and what helps. (A
// reset that cannot open its port: test_maintenance_device.)
TEST(PortFailure, TheLogSaysWhyAndWhatHelps)
{
    PtyDevice held;
    ASSERT_EQ(flock(held.held, LOCK_EX), 0);
    test_attach(tap_wrap(std::string(100, '\x30')));
    test_set_ports(held.slave.c_str());
    const std::string log = test_log_text();
    test_click("button_play");
    EXPECT_TRUE(test_status_is(" Playback over: Unable to access communication port to device"));
    EXPECT_EQ(test_log_after(log), test_separator + "Playback started\nCannot open port " +
                                       held.slave +
                                       ": Device or resource busy (another program has the port "
                                       "open)\nPlayback over: Unable to access communication "
                                       "port to device – Tape start, 0:00 of tape played\n");
}
