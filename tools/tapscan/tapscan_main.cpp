// ravelo-tapscan: lists the programs the computer's ROM loader would find
// on a tape, or prints the IDX records that the client would save for them.
#include "cli/command_line.h"
#include "idx/idx_format.h"
#include "tape/tape_file.h"
#include "tape/tape_info.h"
#include "tape/tape_listing.h"
#include "tape/tape_scan.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{

const char program_name[] = "ravelo-tapscan";

const char help_text[] = "Usage: ravelo-tapscan [--idx] TAPE.tap\n"
                         "Lists the programs on a tape: offset, tape time, type, addresses, name.\n"
                         "  --idx       print instead an IDX file with a record for each program\n"
                         "  --help      show this text\n"
                         "  --version   show the version\n";

// Why the file cannot be scanned; nullptr when it can.
const char *refusal(const TapeCheck &check)
{
    switch (check.problem) {
    case TapeProblem::too_short:
        return "shorter than a TAP header (20 bytes)";
    case TapeProblem::no_signature:
        return "not a TAP file (no \"C64-TAPE-RAW\" signature)";
    case TapeProblem::unsupported_version:
        return check.version == 2 ? "TAP version 2 holds no C64 tape" : "unsupported TAP version";
    default:
        return nullptr;
    }
}

void print_idx(const std::vector<TapeProgram> &programs)
{
    for (const TapeProgram &p : programs) {
        const std::string line = idx_format_record(static_cast<gint32>(p.offset), p.name.c_str());
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
}

} // namespace

int main(int argc, char **argv)
{
    bool idx = false;
    const char *path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (cli_answered(argv[i], program_name, help_text)) {
            return 0;
        } else if (arg == "--idx") {
            idx = true;
        } else if (arg.rfind("-", 0) == 0) {
            return cli_usage_error(program_name, "unknown option '" + arg + "'");
        } else if (path == nullptr) {
            path = argv[i];
        } else {
            return cli_usage_error(program_name, "only one tape can be named");
        }
    }
    if (path == nullptr)
        return cli_usage_error(program_name, "no tape named");
    std::vector<unsigned char> tape;
    if (const char *why = tape_file_reason(tape_file_read(path, &tape))) {
        std::fprintf(stderr, "%s: %s: %s\n", program_name, path, why);
        return 1;
    }
    const TapeCheck check = tape_check(tape.data(), tape.size());
    if (const char *why = refusal(check)) {
        std::fprintf(stderr, "%s: %s: %s\n", program_name, path, why);
        return 1;
    }
    if (check.problem == TapeProblem::wrong_length)
        std::fprintf(stderr,
                     "%s: %s: the header gives %lu data bytes, the file holds %lu; "
                     "scanning them all\n",
                     program_name, path, static_cast<unsigned long>(check.length_field),
                     static_cast<unsigned long>(check.data_length));
    const std::vector<TapeProgram> programs = tape_scan(tape.data(), tape.size());
    if (idx)
        print_idx(programs);
    else
        std::fputs(tape_listing(programs, check.cycles).c_str(), stdout);
    return 0;
}
