#include "cli/command_line.h"

#include <cstdio>
#include <cstring>

void cli_print_version(const char *program)
{
    std::printf("%s %s\n"
                "Copyright (C) 2026 The Ravelo client authors\n"
                "MIT licence: free to use, change and redistribute; there is NO WARRANTY.\n",
                program, RAVELO_VERSION);
}

bool cli_answered(const char *arg, const char *program, const char *help)
{
    if (std::strcmp(arg, "--help") == 0)
        std::printf("%s\nReport bugs at: %s\n", help, RAVELO_HOMEPAGE);
    else if (std::strcmp(arg, "--version") == 0)
        cli_print_version(program);
    else
        return false;
    return true;
}

int cli_usage_error(const char *program, const std::string &problem)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program,
                 problem.c_str(), program);
    return 2;
}
