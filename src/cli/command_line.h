// What every Ravelo program says on its command line, said the same way by
// all of them (the GNU conventions):
//   --help, -h  the usage line first, then the program's own text, and
//               where to report bugs last; to standard output, exit 0;
//   --version   cli_print_version(); to standard output, exit 0
//               (both answered by cli_answered());
//   a wrong command line (unknown option, missing or bad value, extra or
//               missing argument): cli_usage_error(), exit 2.
// Plain C++ and stdio, so that the device emulator, which uses none of the
// client's code, shares it too. Its own texts are looked up in the client's
// domain (base/i18n.h): a program that binds it (i18n_start) speaks the
// user's language, the others English.
#pragma once

#include <string>

// Prints to standard output the program's name and version, the copyright
// and the licence:
//   PROGRAM 2.5
//   Copyright (C) 2026 The Ravelo client authors
//   MIT licence: free to use, change and redistribute; there is NO WARRANTY.
void cli_print_version(const char *program);

// When `arg` is --help or -h, prints `help` (which starts with the usage line), an
// empty line and "Report bugs at: " with the home page; when it is
// --version, prints cli_print_version(). Both to standard output. True when
// it answered: the program then exits 0. (The client's option parser prints
// its own, translated, help.)
bool cli_answered(const char *arg, const char *program, const char *help);

// Prints to standard error the two lines
//   PROGRAM: PROBLEM
//   Try 'PROGRAM --help' for more information.
// and returns 2, the exit status for a wrong command line.
int cli_usage_error(const char *program, const std::string &problem);
