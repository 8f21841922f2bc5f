#include "cli/command_line.h"

#include "base/i18n.h"

#include <cstdio>
#include <cstring>

void cli_print_version(const char *program)
{
    std::printf("%s %s\n"
                "Copyright (C) 2026 The Ravelo client authors\n",
                program, RAVELO_VERSION);
    std::puts(_("MIT licence: free to use, change and redistribute; there is NO WARRANTY."));
}

bool cli_answered(const char *arg, const char *program, const char *help)
{
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
        std::printf("%s\n", help);
        std::printf(_("Report bugs at: %s"), RAVELO_HOMEPAGE);
        std::putchar('\n');
    } else if (std::strcmp(arg, "--version") == 0)
        cli_print_version(program);
    else
        return false;
    return true;
}

int cli_usage_error(const char *program, const std::string &problem)
{
    std::fprintf(stderr, "%s: %s\n", program, problem.c_str());
    std::fprintf(stderr, _("Try '%s --help' for more information.\n"), program);
    return 2;
}
