// ravelo-tapmaker: writes a made-up TAP file (and its IDX file) for trying
// the client without real tape images.
#include "cli/command_line.h"
#include "idx/idx_format.h"
#include "tap_maker.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{

const char program_name[] = "ravelo-tapmaker";

const char help_text[] =
    "Usage: ravelo-tapmaker --seconds N --out FILE.tap [--idx] [--seed S]\n"
    "       ravelo-tapmaker --program NAME[:BYTES]... --out FILE.tap [options]\n"
    "Writes a TAP file of about N seconds of tape with realistic pulses, or one\n"
    "with the named programs as the computer's ROM loader saves them.\n"
    "  --seconds N   length of the tape in seconds (may have a fraction)\n"
    "  --program P   a program named P (letters in capitals) of BYTES bytes\n"
    "                (default 1000); give it once per program, in tape order\n"
    "  --drift P     programs' pulses P per cent longer (negative: shorter)\n"
    "  --jitter J    programs' pulses off by up to J units either way (default 1)\n"
    "  --out FILE    the TAP file to write\n"
    "  --idx         also write FILE.idx beside it with a few index records\n"
    "  --seed S      another seed gives another tape (default 1)\n"
    "  -h, --help    show this text\n"
    "  --version     show the version\n";

bool write_file(const std::string &path, const std::string &content)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", program_name, path.c_str(),
                     std::strerror(errno));
        return false;
    }
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "%s: error writing %s\n", program_name, path.c_str());
        return false;
    }
    return true;
}

bool parse_number(const char *text, double *value)
{
    char *end = nullptr;
    errno = 0;
    *value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0';
}

// "NAME" or "NAME:BYTES": a program of made-up bytes, loadable anywhere.
bool parse_program(const std::string &text, unsigned seed, TapRomFile *file)
{
    const std::size_t colon = text.rfind(':');
    double bytes = 1000;
    if (colon != std::string::npos && (!parse_number(text.c_str() + colon + 1, &bytes) ||
                                       bytes < 1 || bytes > 0xF000 || bytes != double(long(bytes))))
        return false;
    file->name = tape_rom_petscii(text.substr(0, colon));
    file->data.clear();
    for (long i = 0; i < long(bytes); ++i)
        file->data.push_back(static_cast<char>((i * 131 + seed * 7 + file->name.size()) & 0xFF));
    return file->name.size() <= 16;
}

} // namespace

int main(int argc, char **argv)
{
    double seconds = -1;
    double seed = 1;
    std::string out;
    bool with_idx = false;
    std::vector<std::string> programs;
    TapProgramsOptions rom;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (cli_answered(argv[i], program_name, help_text)) {
            return 0;
        } else if (arg == "--idx") {
            with_idx = true;
        } else if (arg == "--seconds" && has_value) {
            if (!parse_number(argv[++i], &seconds) || seconds < 0 || seconds > 3600)
                return cli_usage_error(program_name, "--seconds wants 0 to 3600");
        } else if (arg == "--seed" && has_value) {
            if (!parse_number(argv[++i], &seed) || seed < 0 || seed > 4294967295.0 ||
                seed != static_cast<double>(static_cast<unsigned long>(seed)))
                return cli_usage_error(program_name, "--seed wants a whole number");
        } else if (arg == "--program" && has_value) {
            programs.push_back(argv[++i]);
        } else if (arg == "--drift" && has_value) {
            if (!parse_number(argv[++i], &rom.drift_percent) || std::fabs(rom.drift_percent) > 20)
                return cli_usage_error(program_name, "--drift wants -20 to 20");
        } else if (arg == "--jitter" && has_value) {
            double jitter = 0;
            if (!parse_number(argv[++i], &jitter) || jitter < 0 || jitter > 8 ||
                jitter != double(unsigned(jitter)))
                return cli_usage_error(program_name, "--jitter wants 0 to 8");
            rom.jitter = unsigned(jitter);
        } else if (arg == "--out" && has_value) {
            out = argv[++i];
        } else {
            return cli_usage_error(program_name, "unknown or incomplete option '" + arg + "'");
        }
    }
    if ((seconds < 0) == programs.empty() || out.empty())
        return cli_usage_error(program_name, "give --out and either --seconds or --program");
    rom.seed = static_cast<unsigned>(seed);
    std::vector<TapRomFile> files(programs.size());
    for (std::size_t i = 0; i < programs.size(); ++i) {
        if (!parse_program(programs[i], rom.seed, &files[i]))
            return cli_usage_error(program_name, "--program wants NAME (16 bytes at most) or "
                                                 "NAME:BYTES (1 to 61440)");
    }
    const std::string tap =
        programs.empty() ? tap_make(seconds, rom.seed) : tap_make_programs(files, rom).tap;
    if (!write_file(out, tap))
        return 1;
    if (with_idx && !write_file(idx_path_for_tap(out), tap_make_idx(tap)))
        return 1;
    return 0;
}
