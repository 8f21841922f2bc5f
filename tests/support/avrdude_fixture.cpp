#include "support/avrdude_fixture.h"

#include "support/harness.h"

#include <glib.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <fstream>
#include <sstream>

namespace
{

bool write_all(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.flush();
    return bool(out);
}

} // namespace

bool avrdude_fixture_write(const std::string &dir)
{
    const std::string system = test_read_file("/etc/avrdude.conf");
    return !system.empty() &&
           write_all(dir + "/avrdude.conf", system + "\n# The device's microcontroller.\n"
                                                     "part parent \"m32u4\"\n"
                                                     "    id = \"ravelo\";\n"
                                                     "    desc = \"Ravelo (ATmega32U4)\";\n"
                                                     ";\n");
}

bool avrdude_fixture_fake_tool(const std::string &dir, const std::string &script)
{
    const std::string path = dir + "/avrdude";
    return write_all(path, "#!/bin/sh\n" + script + "\n") && chmod(path.c_str(), 0755) == 0;
}

std::vector<pid_t> avrdude_fixture_processes(const std::string &dir)
{
    std::vector<pid_t> found;
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return found;
    while (dirent *entry = readdir(proc)) {
        if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0])))
            continue;
        const std::string base = std::string("/proc/") + entry->d_name;
        // "pid (comm) state ppid ..."; comm may hold blanks and parentheses.
        const std::string stat = test_read_file(base + "/stat");
        const auto open = stat.find('(');
        const auto close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open)
            continue;
        if (stat.substr(open + 1, close - open - 1) != "avrdude")
            continue;
        std::istringstream rest(stat.substr(close + 1));
        char state = 0;
        pid_t ppid = 0;
        rest >> state >> ppid;
        char cwd[PATH_MAX];
        const ssize_t n = readlink((base + "/cwd").c_str(), cwd, sizeof cwd - 1);
        const bool here = n > 0 && std::string(cwd, size_t(n)) == dir;
        if (ppid == getpid() || here)
            found.push_back(pid_t(std::stol(entry->d_name)));
    }
    closedir(proc);
    return found;
}

std::vector<unsigned char> hex_data_bytes(const std::string &image)
{
    std::vector<unsigned char> data;
    std::istringstream lines(image);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() < 11 || line[0] != ':')
            continue;
        auto byte_at = [&line](std::size_t i) {
            return g_ascii_xdigit_value(line[1 + 2 * i]) << 4 |
                   g_ascii_xdigit_value(line[2 + 2 * i]);
        };
        const int count = byte_at(0);
        if (byte_at(3) != 0x00 || line.size() < std::size_t(11 + 2 * count))
            continue;
        for (int i = 0; i < count; ++i)
            data.push_back(static_cast<unsigned char>(byte_at(4 + std::size_t(i))));
    }
    return data;
}
