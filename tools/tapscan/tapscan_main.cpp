// ravelo-tapscan: lists the programs the computer's ROM loader would find
// on a tape, or prints the IDX records that the client would save for them.
#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "cli/command_line.h"
#include "idx/idx_format.h"
#include "image/image_read.h"
#include "tape/tape_file.h"
#include "tape/tape_info.h"
#include "tape/tape_listing.h"
#include "tape/tape_scan.h"

#include <glib.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace
{

const char program_name[] = "ravelo-tapscan";

const char help_text[] =
    N_("Usage: ravelo-tapscan [--idx] TAPE.tap\n"
       "Lists the programs on a tape: offset, start, load time (up to the next\n"
       "program's start), type, addresses and name, then the tape's whole time.\n"
       "  --idx       print instead an IDX file with a record for each program\n"
       "  -h, --help  show this text\n"
       "  --version   show the version\n");

// What a program image is called where it is refused as a tape.
const char *image_text(ImageKind kind)
{
    switch (kind) {
    case ImageKind::prg:
        return _("a PRG file");
    case ImageKind::p00:
        return _("a P00 file");
    case ImageKind::t64:
        return _("a T64 tape image");
    case ImageKind::d64:
        return _("a D64 disk image");
    }
    return "";
}

// Why the file cannot be scanned; nullptr when it can.
const char *refusal(const TapeCheck &check)
{
    switch (check.problem) {
    case TapeProblem::too_short:
        return _("shorter than a TAP header (20 bytes)");
    case TapeProblem::no_signature:
        return _("not a TAP file (no \"C64-TAPE-RAW\" signature)");
    case TapeProblem::unsupported_version:
        return check.version == 2 ? _("TAP version 2 holds no C64 tape")
                                  : _("unsupported TAP version");
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

// A program or disk image named as a tape: the kind when the image readers
// take the file as one, by its name and its bytes.
std::optional<ImageKind> image_kind(const char *path, const std::vector<unsigned char> &bytes)
{
    const GCharPtr base(g_path_get_basename(path));
    const auto kind = image_kind_of(base.get());
    if (kind &&
        !image_read(*kind, base.get(), std::string(bytes.begin(), bytes.end())).refusal.empty())
        return std::nullopt;
    return kind;
}

} // namespace

int main(int argc, char **argv)
{
    i18n_start();
    bool idx = false;
    const char *path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (cli_answered(argv[i], program_name, _(help_text))) {
            return 0;
        } else if (arg == "--idx") {
            idx = true;
        } else if (arg.rfind("-", 0) == 0) {
            return cli_usage_error(program_name,
                                   i18n_format(_("unknown option '%s'"), arg.c_str()));
        } else if (path == nullptr) {
            path = argv[i];
        } else {
            return cli_usage_error(program_name, _("only one tape can be named"));
        }
    }
    if (path == nullptr)
        return cli_usage_error(program_name, _("no tape named"));
    std::vector<unsigned char> tape;
    if (const char *why = tape_file_reason(tape_file_read(path, &tape))) {
        std::fprintf(stderr, "%s: %s: %s\n", program_name, path, why);
        return 1;
    }
    const TapeCheck check = tape_check(tape.data(), tape.size());
    if (const char *why = refusal(check)) {
        if (const auto kind = image_kind(path, tape)) {
            std::fprintf(stderr, _("%s: %s: %s, not a TAP file: convert it with '%s %s'\n"),
                         program_name, path, image_text(*kind), "ravelo-totap", path);
            return 1;
        }
        std::fprintf(stderr, "%s: %s: %s\n", program_name, path, why);
        return 1;
    }
    if (check.problem == TapeProblem::wrong_length)
        std::fprintf(stderr,
                     _("%s: %s: the header gives %lu data bytes, the file holds %lu; "
                       "scanning them all\n"),
                     program_name, path, static_cast<unsigned long>(check.length_field),
                     static_cast<unsigned long>(check.data_length));
    const std::vector<TapeProgram> programs = tape_scan(tape.data(), tape.size());
    if (idx)
        print_idx(programs);
    else
        std::fputs(tape_listing(programs, check.cycles).c_str(), stdout);
    return 0;
}
