#include "support/avrdude_fixture.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <fstream>
#include <sstream>

namespace
{

bool read_all(const std::string &path, std::string &content)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream all;
    all << in.rdbuf();
    content = all.str();
    return true;
}

bool write_all(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.flush();
    return bool(out);
}

int hex_nibble(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

bool avrdude_fixture_write(const std::string &dir)
{
    std::string system;
    if (!read_all("/etc/avrdude.conf", system) || system.empty())
        return false;
    return write_all(dir + "/avrdude.conf", system + "\n# The device's microcontroller.\n"
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
        std::string stat;
        if (!read_all(base + "/stat", stat))
            continue;
        // "pid (comm) state ppid ..."; comm may hold blanks and parentheses.
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
            return (hex_nibble(line[1 + 2 * i]) << 4) | hex_nibble(line[2 + 2 * i]);
        };
        const int count = byte_at(0);
        if (byte_at(3) != 0x00 || line.size() < std::size_t(11 + 2 * count))
            continue;
        for (int i = 0; i < count; ++i)
            data.push_back(static_cast<unsigned char>(byte_at(4 + std::size_t(i))));
    }
    return data;
}
