// Configuration record: choosing the data folder, loading with prefix matching of root and
// sections, the rewrite on failure, and the all-or-nothing save.
#include "config/Config.h"

#include "config/XmlSections.h"

#include <tinyxml2.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>

namespace fs = std::filesystem;
using namespace tinyxml2;
using skv::xml::findElementSection;
using skv::xml::findSection;

namespace {

/// Leading decimal digits (with an optional sign) as an int, 0 when there are none;
/// values beyond the int range saturate instead of overflowing.
int leadingInt(const char* text)
{
    if (!text) {
        return 0;
    }
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text) {
        return 0;
    }
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

/// Something inside this library, for dladdr.
void moduleAnchor() {}

fs::path resolveModulePath()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&moduleAnchor), &info) == 0 || !info.dli_fname) {
        return {};
    }
    std::error_code error;
    fs::path path = fs::canonical(info.dli_fname, error);
    if (error) {
        path = fs::absolute(info.dli_fname, error);
    }
    return error ? fs::path(info.dli_fname) : path;
}

const fs::path& resolvedModulePath()
{
    static const fs::path path = resolveModulePath();
    return path;
}

// dlopen may be given a relative path, which names the library only until the host changes
// folder; resolving it while the library is loaded fixes it before that can happen.
[[maybe_unused]] const bool modulePathResolved = !resolvedModulePath().empty();

/// Serialises every use of the process-wide record: hosts create and close instances on
/// more than one thread. Test-made records share it, which costs nothing.
std::mutex& recordMutex()
{
    static std::mutex mutex;
    return mutex;
}

/// A folder we can create files in: it exists (or could be made) and a probe file can be
/// created and removed there. Permission bits alone are not enough (root, read-only mounts).
bool isWritableFolder(const fs::path& folder)
{
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        fs::create_directories(folder, error);
        if (error || !fs::is_directory(folder, error)) {
            return false;
        }
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        return false;
    }
    std::string probe = (folder / ".probe.XXXXXX").string();
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

CConfig& CConfig::get()
{
    static CConfig record;
    return record;
}

std::string CConfig::rootNameFor(const std::string& productName)
{
    if (!productName.empty() && productName[0] >= '0' && productName[0] <= '9') {
        return "fx" + productName;
    }
    return productName;
}

fs::path CConfig::ownModulePath()
{
    return resolvedModulePath();
}

fs::path CConfig::userConfigFolder()
{
    // Only an absolute $XDG_CONFIG_HOME counts; otherwise ~/.config.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        return fs::path(xdg);
    }
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        const passwd* user = ::getpwuid(::getuid());
        home = user ? user->pw_dir : nullptr;
    }
    if (!home || home[0] != '/') {
        return {};
    }
    return fs::path(home) / ".config";
}

void CConfig::load(const std::string& product, const std::string& spareText)
{
    load(product, spareText, ownModulePath());
}

void CConfig::load(const std::string& product, const std::string& spareText,
                   const fs::path& modulePath)
{
    std::lock_guard<std::mutex> lock(recordMutex());
    productName = product;
    rootName = rootNameFor(product);
    spare = spareText;
    pluginPath = modulePath.lexically_normal();
    const std::string folderName = productName + " Data";
    const fs::path beside = (pluginPath.parent_path() / folderName).lexically_normal();
    fs::path dataFolder = beside;
    const fs::path userFolder = userConfigFolder();
    if (!isWritableFolder(beside) && !userFolder.empty()) {
        dataFolder = (userFolder / folderName).lexically_normal();
    }
    clearValues();
    persistedValid_ = false;
    // A read-only install may still carry a file beside the library: it is read first, and
    // the user's own file read over it.
    if (dataFolder != beside) {
        configPath = beside / kConfigFileName;
        readFile();
    }
    configPath = dataFolder / kConfigFileName;
    skinsPath = dataFolder / kSkinsFolderName;

    const FileState state = readFile();
    if (state != FileState::kUnreadable) {
        // Read, or something that is not ours to replace: either way the file stays as it is
        // until the record changes.
        persisted_ = toText();
        persistedValid_ = true;
        return;
    }
    std::error_code error;
    fs::create_directories(dataFolder, error);
    const std::string text = toText();
    if (writeFile(text)) {
        persisted_ = text;
        persistedValid_ = true;
    }
}

void CConfig::clearValues()
{
    zipPresets = true;
    resolution = kDefaultResolution;
    skinPath.clear();
    controllerMap.clear();
    globals.clear();
}

CConfig::FileState CConfig::readFile()
{
    // Non-blocking: opening a FIFO for reading would otherwise wait for a writer for ever.
    const int fd = ::open(configPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        // Missing (or a dangling link): a fresh file is due. Anything else that cannot be
        // opened may be the user's file and is left alone.
        return errno == ENOENT ? FileState::kUnreadable : FileState::kNotAFile;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uintmax_t>(info.st_size) > kMaxFileBytes) {
        ::close(fd);
        return FileState::kNotAFile;
    }
    std::string text;
    char piece[16384];
    for (;;) {
        const ssize_t n = ::read(fd, piece, sizeof piece);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ::close(fd);
            return FileState::kNotAFile;
        }
        if (n == 0) {
            break;
        }
        text.append(piece, static_cast<std::size_t>(n));
        if (text.size() > kMaxFileBytes) {
            ::close(fd);
            return FileState::kNotAFile;
        }
    }
    ::close(fd);
    return readText(text) ? FileState::kRead : FileState::kUnreadable;
}

bool CConfig::readText(std::string_view text)
{
    XMLDocument document;
    if (text.empty() || document.Parse(text.data(), text.size()) != XML_SUCCESS) {
        return false;
    }
    const XMLNode* root = findSection(&document, rootName);
    if (!root) {
        return false;
    }

    const XMLElement* skin = findElementSection(root, "Skin");
    if (!skin) {
        return false;
    }
    const char* path = skin->Attribute("path");
    skinPath = path ? path : "";

    const XMLNode* map = findSection(root, "ControllerMap");
    if (!map) {
        return false;
    }
    for (const XMLElement* child = map->FirstChildElement(); child;
         child = child->NextSiblingElement()) {
        const char* number = child->GetText();
        if (!number) {
            continue;
        }
        const char* key = child->Attribute("param");
        controllerMap[key ? key : ""] = leadingInt(number);
    }

    const XMLElement* files = findElementSection(root, "Files");
    if (!files) {
        return false;
    }
    const char* zip = files->Attribute("zip-presets");
    zipPresets = zip && std::strcmp(zip, "yes") == 0;

    const XMLElement* processing = findElementSection(root, "Processing");
    if (!processing) {
        return false;
    }
    resolution = leadingInt(processing->Attribute("resolution"));

    // "Globals" is written only when it has entries, so a file without it is complete.
    const XMLNode* globalsNode = findSection(root, "Globals");
    if (!globalsNode) {
        return true;
    }
    for (const XMLElement* child = globalsNode->FirstChildElement(); child;
         child = child->NextSiblingElement()) {
        const XMLAttribute* attribute = child->FirstAttribute();
        if (!attribute) {
            continue;
        }
        globals[attribute->Name()] = attribute->Value();
    }
    return true;
}

std::string CConfig::toText() const
{
    XMLDocument document;
    document.InsertEndChild(document.NewDeclaration("xml version=\"1.0\""));
    XMLElement* root = document.NewElement(rootName.c_str());
    document.InsertEndChild(root);

    XMLElement* skin = root->InsertNewChildElement("Skin");
    skin->SetAttribute("path", skinPath.c_str());
    XMLElement* map = root->InsertNewChildElement("ControllerMap");
    for (const auto& [key, number] : controllerMap) {
        XMLElement* control = map->InsertNewChildElement("Control");
        control->SetAttribute("param", key.c_str());
        control->SetText(number);
    }
    XMLElement* files = root->InsertNewChildElement("Files");
    files->SetAttribute("zip-presets", zipPresets ? "yes" : "no");
    XMLElement* processing = root->InsertNewChildElement("Processing");
    processing->SetAttribute("resolution", resolution);
    if (!globals.empty()) {
        XMLElement* globalsElement = root->InsertNewChildElement("Globals");
        for (const auto& [name, value] : globals) {
            XMLElement* param = globalsElement->InsertNewChildElement("param");
            param->SetAttribute(name.c_str(), value.c_str());
        }
    }
    XMLPrinter printer;
    document.Print(&printer);
    return std::string(printer.CStr(), static_cast<std::size_t>(printer.CStrSize() - 1));
}

bool CConfig::save() const
{
    std::lock_guard<std::mutex> lock(recordMutex());
    if (configPath.empty() || rootName.empty()) {
        return false;
    }
    const std::string text = toText();
    if (persistedValid_ && text == persisted_) {
        return true;
    }
    if (!writeFile(text)) {
        return false;
    }
    persisted_ = text;
    persistedValid_ = true;
    return true;
}

bool CConfig::writeFile(const std::string& text) const
{
    // A symlinked config.xml stays a link: its target is what gets replaced.
    std::error_code error;
    fs::path target = configPath;
    if (fs::is_symlink(target, error)) {
        target = fs::weakly_canonical(configPath, error);
        if (error) {
            return false;
        }
    }
    // Only a regular file (or nothing) is replaced; a FIFO or a folder stays what it is.
    struct stat info {};
    const bool exists = ::stat(target.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode)) {
        return false;
    }
    // Created exclusively beside the target, so a planted file or link cannot be written
    // through, and renamed over it: readers see the old file or the new one.
    std::string temporary = target.string() + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const mode_t mode = exists ? (info.st_mode & 07777) : 0644;
    bool written = ::fchmod(fd, mode) == 0;
    written = writeAll(fd, text.data(), text.size()) && written;
    written = ::fsync(fd) == 0 && written;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

int CConfig::getResolution() const
{
    std::lock_guard<std::mutex> lock(recordMutex());
    if (resolution < 1) {
        return kDefaultResolution;
    }
    return resolution > kMaxResolution ? kMaxResolution : resolution;
}

bool CConfig::getZipPresets() const
{
    std::lock_guard<std::mutex> lock(recordMutex());
    return zipPresets;
}
