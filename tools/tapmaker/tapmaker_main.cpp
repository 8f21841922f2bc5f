// ravelo-tapmaker: writes a made-up TAP file (and its IDX file) for trying
// the client without real tape images.
#include "tap_maker.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

void usage(FILE *to)
{
    std::fprintf(to, "Usage: ravelo-tapmaker --seconds N --out FILE.tap [--idx] [--seed S]\n"
                     "Writes a TAP file of about N seconds of tape with realistic pulses.\n"
                     "  --seconds N   length of the tape in seconds (may have a fraction)\n"
                     "  --out FILE    the TAP file to write\n"
                     "  --idx         also write FILE.idx beside it with a few index records\n"
                     "  --seed S      another seed gives another tape (default 1)\n"
                     "  --help        show this text\n");
}

bool write_file(const std::string &path, const std::string &content)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "ravelo-tapmaker: cannot write %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return false;
    }
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "ravelo-tapmaker: error writing %s\n", path.c_str());
        return false;
    }
    return true;
}

// The IDX file the client looks for: the name up to its last dot, plus ".idx".
std::string idx_path(const std::string &tap_path)
{
    const std::size_t slash = tap_path.rfind('/');
    const std::size_t dot = tap_path.rfind('.');
    const bool has_dot = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (has_dot ? tap_path.substr(0, dot) : tap_path) + ".idx";
}

bool parse_number(const char *text, double *value)
{
    char *end = nullptr;
    errno = 0;
    *value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0';
}

} // namespace

int main(int argc, char **argv)
{
    double seconds = -1;
    double seed = 1;
    std::string out;
    bool with_idx = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--help") {
            usage(stdout);
            return 0;
        } else if (arg == "--idx") {
            with_idx = true;
        } else if (arg == "--seconds" && has_value) {
            if (!parse_number(argv[++i], &seconds) || seconds < 0 || seconds > 3600) {
                std::fprintf(stderr, "ravelo-tapmaker: --seconds wants 0 to 3600\n");
                return 2;
            }
        } else if (arg == "--seed" && has_value) {
            if (!parse_number(argv[++i], &seed) || seed < 0 || seed > 4294967295.0 ||
                seed != static_cast<double>(static_cast<unsigned long>(seed))) {
                std::fprintf(stderr, "ravelo-tapmaker: --seed wants a whole number\n");
                return 2;
            }
        } else if (arg == "--out" && has_value) {
            out = argv[++i];
        } else {
            std::fprintf(stderr, "ravelo-tapmaker: unknown or incomplete option %s\n", argv[i]);
            usage(stderr);
            return 2;
        }
    }
    if (seconds < 0 || out.empty()) {
        usage(stderr);
        return 2;
    }
    const std::string tap = tap_make(seconds, static_cast<unsigned>(seed));
    if (!write_file(out, tap))
        return 1;
    if (with_idx && !write_file(idx_path(out), tap_make_idx(tap)))
        return 1;
    return 0;
}
