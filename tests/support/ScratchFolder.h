// A fresh empty folder under the system's temporary folder for one test, removed with
// everything in it (even after a test took its write permission away) when the object goes.
#pragma once

#include <stdlib.h>  // NOLINT(modernize-deprecated-headers): mkdtemp is POSIX, not in <cstdlib>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace skvtest {

class CScratchFolder {
public:
    CScratchFolder()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "skorvaline-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a scratch folder");
        folder = pattern;
    }
    ~CScratchFolder()
    {
        namespace fs = std::filesystem;
        std::error_code error;
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, error);
        fs::remove_all(folder, error);
    }
    CScratchFolder(const CScratchFolder&) = delete;
    CScratchFolder& operator=(const CScratchFolder&) = delete;

    const std::filesystem::path& path() const { return folder; }

private:
    std::filesystem::path folder;
};

}  // namespace skvtest
