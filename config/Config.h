// The process-wide configuration record and its file config.xml in the data folder beside
// the plug-in library ("<product> Data"); when that folder cannot be created or written (a
// read-only install), the same folder under $XDG_CONFIG_HOME (~/.config) is used instead.
// Every effect loads it at construction and saves it at destruction. Hosts construct and
// destroy effects on whichever thread they like, so load, save and the readers serialise on
// one process-wide mutex (never taken on the audio thread).
// Loading never reports: whatever cannot be read leaves the values held, and a complete file
// is written back at once. Only regular files are read, and a path that names something else
// (a FIFO, a device) is never replaced. Saving writes nothing when the record is what was
// last read or written, so a user's edits made while the host runs survive; otherwise it
// writes an exclusively created temporary file and renames it over config.xml (or over the
// file a symlinked config.xml points to), so an interrupted save never leaves a half file.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

class CConfig {
public:
    static constexpr int kDefaultResolution = 8;
    /// Largest sub-block length handed to the engine; beyond it buffers would grow absurdly.
    static constexpr int kMaxResolution = 4096;
    /// A config.xml larger than this is not a configuration; it is neither read nor replaced.
    static constexpr std::size_t kMaxFileBytes = std::size_t(1) << 20;
    static constexpr const char* kConfigFileName = "config.xml";
    static constexpr const char* kSkinsFolderName = "Skins";

    /// The record shared by every instance in the process, created with defaults on first use.
    static CConfig& get();

    CConfig() = default;

    /// Loads config.xml from the data folder beside the library that contains this code.
    void load(const std::string& productName, const std::string& spareText);
    /// Same, for a plug-in file at modulePath (tests point it into a scratch folder).
    void load(const std::string& productName, const std::string& spareText,
              const std::filesystem::path& modulePath);
    /// Writes config.xml from the record when it differs from what was last read or written.
    /// Answers whether the file now holds the record; failures leave the previous file
    /// untouched and are otherwise ignored.
    bool save() const;

    /// Processing resolution as the engine may use it: the configured value within
    /// 1..kMaxResolution, kDefaultResolution for a value below 1.
    int getResolution() const;
    bool getZipPresets() const;

    /// Reads config.xml text into the record, as load reads the file (no file is touched);
    /// false when the text is not XML or a root or section is missing or not an element.
    /// Values read before the failure stay.
    bool readText(std::string_view text);
    /// The file text save writes for the record.
    std::string toText() const;

    /// Full path of the loaded module that holds this code, resolved (symlinks, the current
    /// folder) once, when the library is loaded: a host may change folder afterwards.
    static std::filesystem::path ownModulePath();
    /// Root element name for a product: "fx" in front when it starts with a decimal digit.
    static std::string rootNameFor(const std::string& productName);
    /// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config; empty when neither is
    /// known.
    static std::filesystem::path userConfigFolder();

    /// The record's fields, in order.
    bool initialised = true;
    std::string productName;
    std::string rootName;
    std::filesystem::path pluginPath;
    std::string spare;
    std::filesystem::path configPath;
    std::filesystem::path skinsPath;
    bool zipPresets = true;
    int resolution = kDefaultResolution;  // as read; see getResolution
    std::string skinPath;
    std::map<std::string, int> controllerMap;
    std::map<std::string, std::string> globals;

private:
    enum class FileState { kRead, kUnreadable, kNotAFile };
    /// Reads configPath; kNotAFile when it exists but is no regular file of sane size.
    FileState readFile();
    /// Back to the defaults before reading again, so entries deleted from the file go.
    void clearValues();
    /// Writes text to configPath (or its symlink's target) through a temporary file.
    bool writeFile(const std::string& text) const;

    /// The file text as last read or written; save writes only when the record differs.
    mutable std::string persisted_;
    mutable bool persistedValid_ = false;
};
