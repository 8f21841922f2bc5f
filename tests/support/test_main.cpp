// Gives each test process a private folder for HOME, the configuration and
// the working directory, and removes it afterwards; texts are untranslated.
#include "support/harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace
{
std::string private_dir;
}

const std::string &test_dir()
{
    return private_dir;
}

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    gchar *dir = g_dir_make_tmp("ravelo-test-XXXXXX", nullptr);
    if (dir == nullptr)
        return 2;
    private_dir = dir;
    g_free(dir);
    const std::string config = private_dir + "/config";
    std::filesystem::create_directory(config);
    // The texts compared are the untranslated ones, whatever the developer's
    // language; a test that wants a translation asks for it with LANGUAGE.
    setenv("LC_ALL", "C.UTF-8", 1);
    unsetenv("LANGUAGE");
    setenv("HOME", private_dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    if (chdir(private_dir.c_str()) != 0)
        return 2;
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(private_dir, ignored);
    return result;
}
