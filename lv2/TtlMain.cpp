// Build step: writes manifest.ttl and Skorvaline.ttl into the bundle folder given as argument.
#include "lv2/TtlWriter.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

bool writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s BUNDLE_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const bool ok = writeFile(folder + "/manifest.ttl", skv::lv2::manifestTtl()) &&
                    writeFile(folder + "/Skorvaline.ttl", skv::lv2::pluginTtl());
    return ok ? 0 : 1;
}
