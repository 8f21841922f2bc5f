// Running the flashing tool: exit status, word splitting, output, and the
// time limit that ends a tool (and everything it started) which never ends
// by itself.
#include "support/harness.h"

#include "maintenance/tool_run.h"

#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <string>

namespace
{

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

// Any member of process group `pgid` left that is not a zombie.
bool group_alive(pid_t pgid)
{
    if (kill(-pgid, 0) != 0)
        return false;
    GDir *dir = g_dir_open("/proc", 0, nullptr);
    if (dir == nullptr)
        return true;
    bool alive = false;
    while (const gchar *name = g_dir_read_name(dir)) {
        if (!g_ascii_isdigit(name[0]))
            continue;
        std::ifstream stat(std::string("/proc/") + name + "/stat");
        std::string text;
        if (!std::getline(stat, text))
            continue;
        const auto close = text.rfind(')');
        if (close == std::string::npos)
            continue;
        char state = 0;
        long ppid = 0, pgrp = 0;
        if (sscanf(text.c_str() + close + 1, " %c %ld %ld", &state, &ppid, &pgrp) == 3 &&
            pgrp == pgid && state != 'Z')
            alive = true;
    }
    g_dir_close(dir);
    return alive;
}

pid_t read_pid(const std::string &name)
{
    const std::string text = test_read_file(test_path(name));
    return text.empty() ? 0 : pid_t(std::stol(text));
}

gint64 elapsed_ms(gint64 since)
{
    return (g_get_monotonic_time() - since) / 1000;
}

} // namespace

TEST(ToolRun, ExitStatusIsTheResult)
{
    EXPECT_EQ(device_tool_run("true", 10000), 1);
    EXPECT_EQ(device_tool_run("false", 10000), 0);
    EXPECT_EQ(device_tool_run("sh -c 'exit 3'", 10000), 0);
    EXPECT_EQ(device_tool_run("sh -c 'kill -9 $$'", 10000), 0) << "death by a signal is a failure";
}

TEST(ToolRun, AProgramThatCannotStartFails)
{
    EXPECT_EQ(device_tool_run("ravelo-no-such-program --version", 10000), 0);
    EXPECT_EQ(device_tool_run("./missing", 10000), 0);
    // An executable whose interpreter is missing cannot be started either.
    test_write_file(test_path("broken"), "#!/nonexistent/interpreter\n");
    ASSERT_EQ(g_chmod(test_path("broken").c_str(), 0755), 0);
    EXPECT_EQ(device_tool_run("./broken", 10000), 0);
    // A line that cannot be split starts nothing.
    EXPECT_EQ(device_tool_run("sh -c 'touch started", 10000), 0);
    EXPECT_FALSE(g_file_test("started", G_FILE_TEST_EXISTS));
}

TEST(ToolRun, WordsAreSplitByShellRulesWithoutAShell)
{
    ASSERT_EQ(device_tool_run(
                  "sh -c 'printf \"%s|\" \"$@\" > words' sh -Pa b 'c d' \"e\"\\ f $HOME", 10000),
              1);
    // Blanks split, quotes group; no variable is expanded, as no shell runs
    // the line itself.
    EXPECT_EQ(test_read_file(test_path("words")), "-Pa|b|c d|e f|$HOME|");
}

TEST(ToolRun, RunsInTheWorkingDirectoryWithoutInputOrVisibleOutput)
{
    // Megabytes of output on both streams: a tool whose output went to an
    // unread pipe would block forever.
    const gint64 start = g_get_monotonic_time();
    EXPECT_EQ(device_tool_run("sh -c 'head -c 3000000 /dev/zero; head -c 3000000 /dev/zero >&2; "
                              "pwd > where; cat > input'",
                              20000),
              1);
    EXPECT_LT(elapsed_ms(start), 20000);
    EXPECT_EQ(test_read_file(test_path("where")), test_dir() + "\n");
    EXPECT_EQ(test_read_file(test_path("input")), "") << "standard input is /dev/null";
}

TEST(ToolRun, ATimeLimitEndsTheToolAndWhatItStarted)
{
    const gint64 start = g_get_monotonic_time();
    EXPECT_EQ(device_tool_run("sh -c 'echo $$ > pid; sleep 60 & echo $! > child; wait'", 500), 0);
    EXPECT_LT(elapsed_ms(start), 10000);
    EXPECT_GE(elapsed_ms(start), 500);
    const pid_t pid = read_pid("pid");
    const pid_t child = read_pid("child");
    ASSERT_GT(pid, 0);
    ASSERT_GT(child, 0);
    // The tool was reaped; what it started is ended (its orphan may take a
    // moment to be reaped by init).
    EXPECT_FALSE(process_alive(pid));
    EXPECT_TRUE(test_spin_until([&] { return !process_alive(child) && !group_alive(pid); }, 5000));
}

TEST(ToolRun, AToolThatIgnoresTheRequestToEndIsKilled)
{
    const gint64 start = g_get_monotonic_time();
    EXPECT_EQ(device_tool_run("sh -c 'trap \"\" TERM; echo $$ > pid; "
                              "while :; do sleep 1; done'",
                              500),
              0);
    EXPECT_LT(elapsed_ms(start), 10000);
    const pid_t pid = read_pid("pid");
    ASSERT_GT(pid, 0);
    EXPECT_FALSE(process_alive(pid));
    EXPECT_TRUE(test_spin_until([&] { return !group_alive(pid); }, 5000));
}
