// Quitting during playback, and a player thread that cannot be started. Each
// case runs in a child process: quitting ends the main loop for good, and the
// thread limit must not outlive the case.
#include "test_player_device.h"

#include "app/app.h"
#include "index/index_list.h"
#include "ui/feedback.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

namespace
{
int index_rows()
{
    return gtk_tree_model_iter_n_children(GTK_TREE_MODEL(index_store), nullptr);
}

// Child side: starts a run, quits from inside the main loop while it goes
// on, and exits 0 only if the quit left nothing open, the list empty, and
// the worker still running (nobody waited for it).
[[noreturn]] void quit_during_playback(bool via_menu, bool streaming)
{
    PtyDevice device;
    set_device_port(device.path());
    attach(data_of(1000));
    click("button_play");
    if (streaming) {
        if (!device.start_playback() || device.header().size() != 20 ||
            device.chunk_of(64).size() != 64)
            std::_Exit(10);
    } else if (!device.wait_opened()) {
        // A silent device: the worker waits for the prompt for seconds.
        std::_Exit(11);
    }
    if (!test_spin_until([] { return tap_file_open.load() == 1 && port_is_open(); }))
        std::_Exit(12);

    g_timeout_add(
        50,
        [](gpointer menu) -> gboolean {
            if (menu != nullptr)
                gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_quit")));
            else
                gtk_widget_destroy(window_main);
            return FALSE;
        },
        via_menu ? GINT_TO_POINTER(1) : nullptr);
    gtk_main();

    const bool alive = player_thread_alive();
    std::fprintf(stderr, "file open %d, port open %d, rows %d, running %d, worker alive %d\n",
                 tap_file_open.load(), int(port_is_open()), index_rows(), player_running,
                 int(alive));
    const bool ok = tap_file_open.load() == 0 && !port_is_open() && index_rows() == 0 &&
                    player_running == 0 && alive;
    std::fflush(stderr);
    std::exit(ok ? 0 : 1);
}
} // namespace

TEST(PlaybackQuit, ClosingTheWindowWhileWaitingForTheDevice)
{
    EXPECT_EXIT(quit_during_playback(false, false), testing::ExitedWithCode(0), "worker alive 1");
}

TEST(PlaybackQuit, ClosingTheWindowWhileStreaming)
{
    EXPECT_EXIT(quit_during_playback(false, true), testing::ExitedWithCode(0), "worker alive 1");
}

TEST(PlaybackQuit, FileQuitWhileStreaming)
{
    EXPECT_EXIT(quit_during_playback(true, true), testing::ExitedWithCode(0), "worker alive 1");
}

// From now on this process cannot create threads: clone and clone3 fail
// with EAGAIN, as when a system runs out of threads.
bool forbid_threads()
{
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone3, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EAGAIN),
    };
    struct sock_fprog program = {sizeof filter / sizeof filter[0], filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

TEST(PlaybackQuit, ThreadThatCannotStartIsReported)
{
#if !defined(__x86_64__)
    GTEST_SKIP() << "the thread filter is written for x86-64";
#endif
    auto scenario = [] {
        PtyDevice device;
        set_device_port(device.path());
        attach(data_of(100));
        test_spin_for(100);
        if (!forbid_threads())
            std::_Exit(10);
        bool ok = true;
        for (int attempt = 0; attempt < 2; ++attempt) {
            status_show("");
            const std::string log = test_log_text();
            click("button_play");
            const std::string shown = test_status_text();
            std::fprintf(stderr, "status [%s]\n", shown.c_str());
            // Reported as " %s" with the toolkit's text; nothing else moves,
            // and nothing stays behind to stop the next attempt.
            ok = ok && shown.size() > 1 && shown[0] == ' ' && shown != " Playback started" &&
                 log_after(log) == std::string(separator) + "Playback started\n" &&
                 controls_idle() && !port_is_open() && !device.wait_opened(300);
        }
        std::fflush(stderr);
        std::_Exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(scenario(), testing::ExitedWithCode(0), "status \\[ .*thread");
}
