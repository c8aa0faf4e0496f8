// Configuration record: loading with prefix matching of root and sections, the rewrite on
// failure, and the all-or-nothing save.
#include "config/Config.h"

#include "config/XmlSections.h"

#include <tinyxml2.h>

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&moduleAnchor), &info) == 0 || !info.dli_fname) {
        return {};
    }
    std::error_code error;
    fs::path path = fs::absolute(info.dli_fname, error);
    return error ? fs::path(info.dli_fname) : path;
}

void CConfig::load(const std::string& product, const std::string& spareText)
{
    load(product, spareText, ownModulePath());
}

void CConfig::load(const std::string& product, const std::string& spareText,
                   const fs::path& modulePath)
{
    productName = product;
    rootName = rootNameFor(product);
    spare = spareText;
    pluginPath = modulePath.lexically_normal();
    fs::path dataFolder = (pluginPath.parent_path() / (productName + " Data")).lexically_normal();
    configPath = dataFolder / kConfigFileName;
    skinsPath = dataFolder / kSkinsFolderName;

    if (read()) {
        return;
    }
    std::error_code error;
    fs::create_directories(dataFolder, error);
    save();
}

bool CConfig::read()
{
    XMLDocument document;
    if (document.LoadFile(configPath.c_str()) != XML_SUCCESS) {
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

    const XMLNode* globalsNode = findSection(root, "Globals");
    if (!globalsNode) {
        return false;
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

bool CConfig::save() const
{
    if (configPath.empty() || rootName.empty()) {
        return false;
    }
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
    const std::size_t size = static_cast<std::size_t>(printer.CStrSize() - 1);

    // Write beside the target and rename over it: readers see the old file or the new one.
    fs::path temporary = configPath;
    temporary += ".tmp" + std::to_string(static_cast<long>(::getpid()));
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        return false;
    }
    bool written = std::fwrite(printer.CStr(), 1, size, file) == size;
    written = std::fflush(file) == 0 && written;
    written = ::fsync(::fileno(file)) == 0 && written;
    written = std::fclose(file) == 0 && written;
    std::error_code error;
    if (written) {
        fs::rename(temporary, configPath, error);
    }
    if (!written || error) {
        fs::remove(temporary, error);
        return false;
    }
    return true;
}

int CConfig::getResolution() const
{
    if (resolution < 1) {
        return kDefaultResolution;
    }
    return resolution > kMaxResolution ? kMaxResolution : resolution;
}
