// skorvaline-pictures [output folder] [resource number...]: writes every registered
// picture (or the listed ones) as <number>-<name>.bmp into the folder (default ".").
#include "tools/pictures/Picture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

int main(int argc, char** argv)
{
    const std::filesystem::path folder = argc > 1 ? argv[1] : ".";
    std::vector<int> wanted;
    for (int i = 2; i < argc; ++i)
        wanted.push_back(std::atoi(argv[i]));
    std::vector<skvpic::CPictureMaker> makers = skvpic::registeredPictures();
    std::sort(makers.begin(), makers.end(),
              [](const auto& a, const auto& b) { return a.resource < b.resource; });
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    int failures = 0;
    for (const auto& maker : makers) {
        if (!wanted.empty() &&
            std::find(wanted.begin(), wanted.end(), maker.resource) == wanted.end())
            continue;
        const std::vector<std::uint8_t> bytes = skvpic::encodeBmp(maker.draw());
        const std::filesystem::path path =
            folder / (std::to_string(maker.resource) + "-" + maker.fileName + ".bmp");
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!out) {
            std::cerr << "skorvaline-pictures: cannot write " << path << "\n";
            ++failures;
            continue;
        }
        std::cout << path.string() << " (" << bytes.size() << " bytes)\n";
    }
    return failures == 0 ? 0 : 1;
}
