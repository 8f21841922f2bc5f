// ravelo-totap: writes the fast tape of a program or disk image (PRG, P00,
// T64, D64), or with --rom the tape that the client plays for it, and its IDX
// file with a record for each program, so that any TAP player can load them.
#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "cli/command_line.h"
#include "idx/idx_format.h"
#include "image/image_read.h"
#include "image/image_tape.h"
#include "tape/tape_file.h"
#include "tape/tape_info.h"
#include "tape/tape_listing.h"
#include "tape/tape_scan.h"

#include <glib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{

const char program_name[] = "ravelo-totap";

const char help_text[] =
    N_("Usage: ravelo-totap [OPTION]... IMAGE\n"
       "Makes a TAP file of the programs in IMAGE (a .prg, .p00, .t64 or .d64 file),\n"
       "each behind a short boot that loads a fast loader, and an IDX file beside it\n"
       "with a record for each program; then lists what the ROM loader finds on it\n"
       "and says what it wrote.\n"
       "\n"
       "  -o, --output=OUT.tap  write OUT.tap and OUT.idx (default: the image's name\n"
       "                        with .tap, in the current folder)\n"
       "  -f, --force           overwrite files that exist\n"
       "      --rom             write the programs as the computer's ROM loader saves\n"
       "                        them (some 7 times slower to load)\n"
       "  -h, --help            show this text and exit\n"
       "      --version         show the version and exit\n"
       "\n"
       "Exit status: 0 when written, 1 when the image cannot be used or a file\n"
       "cannot be written, 2 for a wrong command line.\n");

int fail(const std::string &path, const std::string &why)
{
    std::fprintf(stderr, "%s: %s: %s\n", program_name, path.c_str(), why.c_str());
    return 1;
}

// "game.d64" -> "game.tap": the image's file name cut at its last '.', plus
// ".tap".
std::string tap_name_for_image(const std::string &name)
{
    return name.substr(0, name.rfind('.')) + ".tap";
}

// Writes `content` whole or not at all; why not, or "".
std::string write_file(const std::string &path, const std::string &content)
{
    GError *error = nullptr;
    if (g_file_set_contents(path.c_str(), content.data(), gssize(content.size()), &error))
        return "";
    const GErrorPtr failure(error);
    return failure->message;
}

} // namespace

int main(int argc, char **argv)
{
    i18n_start();
    std::string image, out;
    bool force = false;
    ImageTapeFormat format = ImageTapeFormat::fast;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (cli_answered(argv[i], program_name, _(help_text))) {
            return 0;
        } else if (arg == "-f" || arg == "--force") {
            force = true;
        } else if (arg == "--rom") {
            format = ImageTapeFormat::rom;
        } else if (arg == "-o" || arg == "--output") {
            if (++i == argc)
                return cli_usage_error(
                    program_name, i18n_format(_("option '%s' needs a file name"), arg.c_str()));
            out = argv[i];
        } else if (arg.rfind("--output=", 0) == 0) {
            out = arg.substr(9);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return cli_usage_error(program_name,
                                   i18n_format(_("unknown option '%s'"), arg.c_str()));
        } else if (image.empty()) {
            image = arg;
        } else {
            return cli_usage_error(program_name, _("only one image can be named"));
        }
    }
    if (image.empty())
        return cli_usage_error(program_name, _("no image named"));

    const std::string base = GCharPtr(g_path_get_basename(image.c_str())).get();
    const auto kind = image_kind_of(base);
    if (!kind)
        return fail(image, _("not a program or disk image (.prg, .p00, .t64 or .d64)"));
    std::vector<unsigned char> bytes;
    if (const char *why = tape_file_reason(tape_file_read(image.c_str(), &bytes)))
        return fail(image, why);
    const ImageRead read = image_read(*kind, base, std::string(bytes.begin(), bytes.end()));
    if (!read.refusal.empty())
        return fail(image, read.refusal);
    for (const std::string &line : read.skipped)
        std::fprintf(stderr, "%s: %s: %s\n", program_name, image.c_str(), line.c_str());

    if (out.empty())
        out = tap_name_for_image(base);
    const std::string idx = idx_path_for_tap(out);
    for (const std::string &path : {out, idx})
        if (!force && g_file_test(path.c_str(), G_FILE_TEST_EXISTS))
            return fail(path, _("exists already (--force overwrites it)"));

    const TapFastTape tape = image_make_tape(read.programs, format);
    for (const std::size_t i : tape.rom_only) {
        const ImageProgram &p = read.programs[i];
        std::array<unsigned char, 16> name;
        name.fill(' ');
        std::copy(p.name.begin(), p.name.end(), name.begin());
        std::fprintf(stderr,
                     _("%s: %s: \"%s\" ($%04X-$%04lX) written for the ROM loader: "
                       "fast load cannot carry it\n"),
                     program_name, image.c_str(), tape_name_text(name).c_str(), p.load,
                     static_cast<unsigned long>(p.load + p.bytes.size() - 1));
    }
    const auto *data = reinterpret_cast<const unsigned char *>(tape.tap.data());
    const std::vector<TapeProgram> programs = tape_scan(data, tape.tap.size());
    const std::vector<IdxRecord> records = image_tape_records(read.programs, tape);
    if (const std::string why = write_file(out, tape.tap); !why.empty())
        return fail(out, why);
    if (const std::string why = write_file(idx, idx_format_records(records)); !why.empty())
        return fail(idx, why);
    const std::uint64_t cycles = tape_check(data, tape.tap.size()).cycles;
    std::fputs(tape_listing(programs, cycles).c_str(), stdout);
    const unsigned long count = read.programs.size();
    std::printf(dngettext(RAVELO_TEXT_DOMAIN, "Wrote %s (%s of tape, %lu program) and %s\n",
                          "Wrote %s (%s of tape, %lu programs) and %s\n", count),
                out.c_str(), tape_time_text(cycles).c_str(), count, idx.c_str());
    return 0;
}
