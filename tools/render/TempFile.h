// Output files are first written under a temporary name in the target folder and renamed
// over the target only when complete, so a failed or interrupted run never leaves a
// half-written file behind (rename within one folder is atomic on POSIX file systems).
#pragma once

#include <filesystem>
#include <string>

namespace render {

class CTempFile {
public:
    /// Creates an empty temporary file beside `target`; throws CRenderError when the folder
    /// does not take new files or the target is a folder.
    explicit CTempFile(const std::filesystem::path& target);
    /// Removes the temporary file unless commit() has succeeded.
    ~CTempFile();
    CTempFile(const CTempFile&) = delete;
    CTempFile& operator=(const CTempFile&) = delete;

    /// Open descriptor of the temporary file, still owned by this object.
    int fd() const { return fd_; }
    const std::filesystem::path& target() const { return target_; }

    /// Writes the whole byte string (for text outputs) and closes the descriptor.
    void writeAll(const std::string& bytes);
    /// Flushes and closes the descriptor if still held, then renames the file onto the target.
    void commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temp_;
    int fd_ = -1;
    bool committed_ = false;
};

}  // namespace render
