// Decoding what a drag source hands over: text/uri-list parsing, percent escapes and the
// resolving of symbolic links in dropped paths.
#include "editor/toolkit/DropData.h"

#include <filesystem>
#include <unistd.h>

namespace VSTGUI {

namespace {
int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isLocalHost(const std::string& host)
{
    if (host.empty() || host == "localhost")
        return true;
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 && host == name;
}
}  // namespace

bool percentDecode(const std::string& in, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        int hi = i + 1 < in.size() ? hexValue(in[i + 1]) : -1;
        int lo = i + 2 < in.size() ? hexValue(in[i + 2]) : -1;
        if (hi < 0 || lo < 0)
            return false;
        char c = char(hi * 16 + lo);
        if (c == '\0')
            return false;
        out += c;
        i += 2;
    }
    return true;
}

std::string resolveLink(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec))
        return path;
    auto target = std::filesystem::canonical(path, ec);
    return ec ? path : target.string();
}

std::vector<std::string> parseUriList(const std::string& list)
{
    std::vector<std::string> paths;
    std::size_t pos = 0;
    while (pos <= list.size()) {
        std::size_t end = list.find('\n', pos);
        if (end == std::string::npos)
            end = list.size();
        std::string line = list.substr(pos, end - pos);
        pos = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == '\0'))
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        if (line.compare(0, 5, "file:") != 0)
            continue;
        std::string rest = line.substr(5);
        if (rest.compare(0, 2, "//") == 0) {
            std::size_t slash = rest.find('/', 2);
            if (slash == std::string::npos)
                continue;
            if (!isLocalHost(rest.substr(2, slash - 2)))
                continue;
            rest = rest.substr(slash);
        }
        if (rest.empty() || rest[0] != '/')
            continue;
        std::string path;
        if (!percentDecode(rest, path))
            continue;
        path = resolveLink(path);
        if (path.size() > kMaxDropPathLength)
            continue;
        paths.push_back(path);
    }
    return paths;
}

}  // namespace VSTGUI
