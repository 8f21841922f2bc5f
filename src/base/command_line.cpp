#include "base/command_line.h"

#include <cstdio>

void cli_print_version(const char *program)
{
    std::printf("%s %s\n"
                "Copyright (C) 2026 The Ravelo client authors\n"
                "MIT licence: free to use, change and redistribute; there is NO WARRANTY.\n",
                program, RAVELO_VERSION);
}

void cli_print_help_footer()
{
    std::printf("\nReport bugs at: %s\n", RAVELO_HOMEPAGE);
}

int cli_usage_error(const char *program, const std::string &problem)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program,
                 problem.c_str(), program);
    return 2;
}
