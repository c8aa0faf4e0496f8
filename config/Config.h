// The process-wide configuration record and its file config.xml in the data folder beside
// the plug-in library ("<product> Data"). Every effect loads it at construction and saves it
// at destruction; only the user-interface thread touches it, so it takes no lock.
// Loading never reports: whatever cannot be read leaves the values held, and a complete file
// is written back at once. Saving writes a temporary file and renames it over config.xml, so
// an interrupted save never leaves a half-written file.
#pragma once

#include <filesystem>
#include <map>
#include <string>

class CConfig {
public:
    static constexpr int kDefaultResolution = 8;
    /// Largest sub-block length handed to the engine; beyond it buffers would grow absurdly.
    static constexpr int kMaxResolution = 4096;
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
    /// Writes config.xml from the record; answers whether the file was replaced. Failures
    /// leave the previous file untouched and are otherwise ignored.
    bool save() const;

    /// Processing resolution as the engine may use it: the configured value within
    /// 1..kMaxResolution, kDefaultResolution for a value below 1.
    int getResolution() const;
    bool getZipPresets() const { return zipPresets; }

    /// Full path of the loaded module that holds this code (found with dladdr).
    static std::filesystem::path ownModulePath();
    /// Root element name for a product: "fx" in front when it starts with a decimal digit.
    static std::string rootNameFor(const std::string& productName);

    // The record's fields, in order.
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
    /// Reads the file; false when it is missing, not XML, or a root or section is missing or
    /// not an element. Values read before the failure stay.
    bool read();
};
