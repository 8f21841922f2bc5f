// Every test program's entry; a benchmark that links the support has its own.
#include "support/harness.h"

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (!test_enter_private_dir())
        return 2;
    // The texts compared are the untranslated ones, whatever the developer's
    // language; a test that wants a translation asks for it with LANGUAGE.
    setenv("LC_ALL", "C.UTF-8", 1);
    unsetenv("LANGUAGE");
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    fs::remove_all(test_dir(), ignored);
    return result;
}
