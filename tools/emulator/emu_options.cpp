#include "emu_options.h"

#include "cli/command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{
EmuOptions options;
} // namespace

const EmuOptions &emu_options()
{
    return options;
}

namespace
{

const char program_name[] = "ravelo-emulator";

const char help_text[] =
    "Usage: ravelo-emulator --link PATH [options]\n"
    "Emulates the Ravelo device on a pseudo-terminal whose slave is linked at PATH.\n"
    "\n"
    "  --link PATH                  the device's console port (required)\n"
    "  --bootloader-link PATH       the bootloader's port after \"b\" (default: PATH-boot)\n"
    "  --record FILE                every byte received during playbacks (emptied at start)\n"
    "  --flash-out FILE             flash memory written through the bootloader\n"
    "  --buffer N                   playback buffer in bytes (default 256, at least 64)\n"
    "  --fast                       no tape pacing: ask for data as fast as it comes\n"
    "  --speed F                    tape pace multiplier (default 1.0)\n"
    "  --computer                   play the tape into a model computer and print, per\n"
    "                               program, what it loaded, where it went and when\n"
    "  --computer-dump DIR          with --computer: write what was loaded as DIR/N.prg\n"
    "  --boot-delay MS              delay before the bootloader port appears (default 300)\n"
    "  --bootloader-timeout MS      leave an idle bootloader after MS (default 8000, 0: never)\n"
    "  --block-time MS              time the bootloader takes per flash block written or\n"
    "                               read, as a real line and flash do (default 0)\n"
    "  --replug-delay MS            delay before the console returns after a hang-up\n"
    "                               (default 1000)\n"
    "  --verbose                    tell what happens on stderr\n"
    "  -h, --help                   show this text\n"
    "  --version                    show the version\n"
    "\n"
    "Misbehaviour on request:\n"
    "  --no-prompt                  never send the prompt\n"
    "  --late-prompt MS             send the prompt MS milliseconds after the port opened\n"
    "  --split-prompt               send the prompt in two parts, 0.7 s apart\n"
    "  --wrong-echo                 echo commands in capitals\n"
    "  --noise                      send junk bytes between playback requests\n"
    "  --fail-after N               report failure ('f') after N data bytes\n"
    "  --hangup-after N             drop the port (as if unplugged) after N data bytes\n"
    "  --header-twice               ask for the header twice\n"
    "  --bad-signature              the bootloader reports a wrong device signature\n"
    "  --bootloader-vanish-after N  the bootloader port vanishes after N flash pages\n"
    "\n"
    "Prints \"ready\" on stdout once the console port exists. SIGTERM or SIGINT end it\n"
    "and remove its links.\n";

bool parse_long(const char *text, long low, long high, long *value)
{
    char *end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high)
        return false;
    *value = parsed;
    return true;
}

bool parse_int(const char *text, long low, long high, int *value)
{
    long parsed = 0;
    if (!parse_long(text, low, high, &parsed))
        return false;
    *value = static_cast<int>(parsed);
    return true;
}

bool parse_double(const char *text, double low, double high, double *value)
{
    char *end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(parsed) || parsed < low ||
        parsed > high)
        return false;
    *value = parsed;
    return true;
}

int usage_error(const std::string &problem)
{
    cli_usage_error(program_name, problem);
    return -1;
}

} // namespace

int emu_parse_options(int argc, char **argv)
{
    constexpr long most_ms = 3600L * 1000;
    constexpr long most_bytes = 0x7FFFFFFFL;
    EmuOptions &o = options;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        auto is = [arg](const char *name) { return std::strcmp(arg, name) == 0; };
        // Flags.
        if (cli_answered(arg, program_name, help_text))
            return 0;
        bool *flag = is("--fast")            ? &o.fast
                     : is("--verbose")       ? &o.verbose
                     : is("--no-prompt")     ? &o.no_prompt
                     : is("--split-prompt")  ? &o.split_prompt
                     : is("--wrong-echo")    ? &o.wrong_echo
                     : is("--noise")         ? &o.noise
                     : is("--header-twice")  ? &o.header_twice
                     : is("--bad-signature") ? &o.bad_signature
                     : is("--computer")      ? &o.computer
                                             : nullptr;
        if (flag != nullptr) {
            *flag = true;
            continue;
        }
        // Options with a value.
        if (i + 1 >= argc)
            return usage_error("unknown option or missing value '" + std::string(arg) + "'");
        const char *value = argv[++i];
        long buffer = 0;
        bool ok = true;
        if (is("--link"))
            o.link = value;
        else if (is("--bootloader-link"))
            o.bootloader_link = value;
        else if (is("--record"))
            o.record = value;
        else if (is("--flash-out"))
            o.flash_out = value;
        else if (is("--computer-dump"))
            o.computer_dump = value;
        else if (is("--buffer")) {
            ok = parse_long(value, 64, 1 << 20, &buffer);
            o.buffer = static_cast<unsigned>(buffer);
        } else if (is("--speed"))
            ok = parse_double(value, 0.001, 1000.0, &o.speed);
        else if (is("--late-prompt"))
            ok = parse_int(value, 0, most_ms, &o.late_prompt_ms);
        else if (is("--fail-after"))
            ok = parse_long(value, 0, most_bytes, &o.fail_after);
        else if (is("--hangup-after"))
            ok = parse_long(value, 0, most_bytes, &o.hangup_after);
        else if (is("--bootloader-vanish-after"))
            ok = parse_long(value, 0, most_bytes, &o.bootloader_vanish_after);
        else if (is("--boot-delay"))
            ok = parse_int(value, 0, most_ms, &o.boot_delay_ms);
        else if (is("--bootloader-timeout"))
            ok = parse_int(value, 0, most_ms, &o.bootloader_timeout_ms);
        else if (is("--block-time"))
            ok = parse_int(value, 0, most_ms, &o.block_time_ms);
        else if (is("--replug-delay"))
            ok = parse_int(value, 0, most_ms, &o.replug_delay_ms);
        else
            return usage_error("unknown option '" + std::string(arg) + "'");
        if (!ok)
            return usage_error("value out of range for '" + std::string(arg) + "'");
    }
    if (o.link.empty())
        return usage_error("missing option '--link PATH'");
    if (o.bootloader_link.empty())
        o.bootloader_link = o.link + "-boot";
    if (o.bootloader_link == o.link)
        return usage_error("the bootloader link must differ from '--link'");
    return 1;
}

void emu_log(const char *format, ...)
{
    if (!options.verbose)
        return;
    std::va_list args;
    va_start(args, format);
    std::fputs("ravelo-emulator: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
}
