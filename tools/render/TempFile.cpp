// CTempFile: creating the temporary file beside the target, writing it and renaming it
// onto the target.
#include "TempFile.h"

#include "RenderError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace render {

CTempFile::CTempFile(const fs::path& target) : target_(target)
{
    std::error_code ec;
    if (fs::is_directory(target, ec))
        throw CRenderError(target.string() + ": is a folder");
    fs::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    // In the target's own folder, so that the final rename never crosses file systems; hidden
    // and with a unique suffix, so that neither a listing nor a second run trips over it.
    std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = mkstemp(name.data());
    if (fd_ < 0)
        throw CRenderError(target.string() + ": cannot create a file in " + folder.string() + " (" +
                           std::strerror(errno) + ")");
    temp_ = name.data();
    // mkstemp creates 0600; give the result the permissions an ordinary new file would get.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
}

CTempFile::~CTempFile()
{
    if (fd_ >= 0)
        close(fd_);
    if (!committed_)
        unlink(temp_.c_str());
}

void CTempFile::writeAll(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw CRenderError(target_.string() + ": write failed (" + std::strerror(errno) + ")");
        done += static_cast<size_t>(n);
    }
}

void CTempFile::commit()
{
    if (fd_ >= 0) {
        // On disk before the rename, so a crash right after it cannot leave an empty file
        // under the target's name.
        // EINVAL: the descriptor is a pipe or special file that cannot be synced; nothing
        // was lost.
        const bool synced = fsync(fd_) == 0 || errno == EINVAL;
        const int syncError = errno;
        const int fd = fd_;
        fd_ = -1;
        if (!synced || close(fd) != 0)
            throw CRenderError(target_.string() + ": write failed (" +
                               std::strerror(synced ? errno : syncError) + ")");
    }
    if (std::rename(temp_.c_str(), target_.c_str()) != 0)
        throw CRenderError(target_.string() + ": cannot replace the file (" + std::strerror(errno) +
                           ")");
    committed_ = true;
}

}  // namespace render
