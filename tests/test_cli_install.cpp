// The command line (exit codes, outputs, the toolkit's options, a tape to
// attach) and the German catalogue as start-up finds it beside the program.
#include "support/harness.h"

#include "document/tape_document.h"

#include "config/config.h"
#include "idx/idx_format.h"
#include "index/document_commands.h"
#include "index/idx_list.h"
#include "tap_maker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

TEST(CommandLine, OptionsExitCodesAndWhereTheyPrint)
{
    const struct {
        const char *args;
        int status;
        const char *out, *err; // expected within stdout / stderr ("" = empty)
    } cases[] = {
        {"--help-gtk", 0, "--g-fatal-warnings", ""},
        {"--g-fatal-warnings --version", 0, "ravelo-client ", ""},
        {"--display :99 --class=x --version", 0, "ravelo-client ", ""},
        {"--bogus t.tap", 2, "", "Unknown option --bogus"},
        {"a.tap b.tap", 2, "", "Only one tape can be named"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        // The built client, with no display: nothing checked here may need one.
        EXPECT_EQ(test_run("env -u DISPLAY " RAVELO_CLIENT " " + std::string(c.args)), c.status);
        const std::string out = test_read_file("out"), err = test_read_file("err");
        EXPECT_NE(out.find(c.out), std::string::npos) << out;
        EXPECT_NE(err.find(c.err), std::string::npos) << err;
        EXPECT_EQ(out.empty(), *c.out == '\0');
        EXPECT_EQ(err.empty(), *c.err == '\0') << err;
        EXPECT_EQ(err.find("\nTry 'ravelo-client --help'") != std::string::npos, c.status == 2);
    }
}

// Under German, which the catalogue beside the program gives: the tape as
// File, Open would attach it, the settings where they are in English. (The
// harness runs under C.UTF-8, where LANGUAGE is honoured; under plain C it
// is ignored. The menus: test_german_dialogs.)
TEST(CommandLine, TapeIsAttachedAsFileOpenWouldAmidToolkitOptions)
{
    setenv("LANGUAGE", "de", 1);
    std::filesystem::create_directory(test_path("tapes"));
    test_write_file(test_path("tapes/t.tap"), tap_wrap(""));
    test_write_file(test_path("tapes/t.idx"), "0x100\t\tIntro\r\n0x2000\t\tGame\r\n");
    test_app_start({"--name", "ravelo-test", "tapes/t.tap"}); // relative to the working folder
    const std::string tape = test_path("tapes/t.tap"),
                      settings = test_path("config/ravelo-client/user.ini");
    EXPECT_STREQ(tape_document_path(), tape.c_str());
    EXPECT_EQ(test_status_text(), " Eingelegt: " + tape);
    EXPECT_EQ(idx_format_records(tape_document_records()),
              "0x14\t\tBandanfang\r\n0x100\t\tIntro\r\n0x2000\t\tGame\r\n");
    EXPECT_TRUE(tape_document_attached() && test_sensitive("button_play"));
    EXPECT_FALSE(test_sensitive("button_stop")); // the idle arrangement
    EXPECT_EQ(test_open_tap("", Answer::cancel).folder, test_path("tapes"));
    EXPECT_STREQ(config_file_path(), settings.c_str());
    EXPECT_TRUE(std::filesystem::is_regular_file(settings));
}

// Nothing that is not a regular file is waited on, or attached: a FIFO named
// at start-up must not hold the window before it draws.
TEST(CommandLine, TapeThatCannotBeReadLeavesTheClientEmptyAndSaysWhy)
{
    const auto refused = [](const char *name, const char *reason) {
        return test_status_text() ==
               " Error: Cannot open the tape " + test_path(name) + ": " + reason;
    };
    ASSERT_EQ(mkfifo(test_path("fifo.tap").c_str(), 0644), 0);
    test_app_start({"fifo.tap"});
    EXPECT_TRUE(refused("fifo.tap", "not a regular file")) << test_status_text();
    EXPECT_FALSE(tape_document_attached());
    EXPECT_TRUE(tape_document_records().empty());
    std::filesystem::create_directory(test_path("folder.tap"));
    for (const auto &[name, reason] : {std::pair{"folder.tap", "Is a directory"},
                                       {"missing.tap", "No such file or directory"}}) {
        EXPECT_FALSE(document_open_path(name));
        EXPECT_TRUE(refused(name, reason)) << test_status_text();
    }
    EXPECT_FALSE(tape_document_attached());
}
