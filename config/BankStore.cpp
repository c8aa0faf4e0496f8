// Building and reading the preset bank document with tinyxml2.
#include "config/BankStore.h"

#include "config/XmlSections.h"

#include <tinyxml2.h>

#include <cstring>
#include <map>

const char* const kBankErrorText = "preset bank error";
const char* const kSaveFailedText = "Save failed";
const char* const kLoadFailedText = "Load failed";

namespace {
using tinyxml2::XMLAttribute;
using tinyxml2::XMLElement;

// An element's attributes by name. A level that is read expecting content fails when it has
// none, which is what makes an empty bank, preset or param element a load failure.
std::map<std::string, std::string> collectAttributes(const XMLElement& element)
{
    const XMLAttribute* attribute = element.FirstAttribute();
    if (attribute == nullptr)
        throw CBankStoreError(kLoadFailedText);
    std::map<std::string, std::string> result;
    for (; attribute != nullptr; attribute = attribute->Next())
        result[attribute->Name()] = attribute->Value();
    return result;
}

std::string take(const std::map<std::string, std::string>& attributes, const char* name,
                 const std::string& fallback = std::string())
{
    const auto it = attributes.find(name);
    return it == attributes.end() ? fallback : it->second;
}

// Text within the bounds of the document (see CBankStore), judged from the raw bytes alone so
// that no way of hiding markup (comments, quotes, CDATA) can slip past the count.
bool withinBounds(std::string_view text)
{
    if (text.size() > CBankStore::kMaxDocumentBytes)
        return false;
    std::size_t markup = 0;
    std::size_t attributes = 0;
    for (const char c : text) {
        markup += c == '<';
        attributes += c == '=';
    }
    return markup <= CBankStore::kMaxMarkup && attributes <= CBankStore::kMaxAttributes;
}

const XMLElement& firstChildElement(const XMLElement& element)
{
    const XMLElement* child = element.FirstChildElement();
    if (child == nullptr)
        throw CBankStoreError(kLoadFailedText);
    return *child;
}
}  // namespace

CBankStore& CBankStore::instance()
{
    static CBankStore store;
    return store;
}

CBankStore::CBankStore() : document_(std::make_unique<tinyxml2::XMLDocument>())
{
    banks_.push_back(std::make_unique<CBank>());
}

CBankStore::~CBankStore() = default;

void CBankStore::clearBanks()
{
    banks_.clear();
}

std::shared_ptr<CPreset> CBankStore::newPreset(const std::string& plugin,
                                               const std::string& pluginVersion,
                                               const std::string& name)
{
    auto preset = std::make_shared<CPreset>();
    preset->plugin = plugin;
    preset->pluginVersion = pluginVersion;
    preset->name = name;
    preset->modified = currentDateText();
    current_ = preset;
    return preset;
}

CBank& CBankStore::addPreset(std::shared_ptr<CPreset> preset)
{
    if (banks_.empty())
        banks_.push_back(std::make_unique<CBank>());
    if (currentBank_ >= banks_.size())
        throw CBankStoreError(kBankErrorText);
    CBank& bank = *banks_[currentBank_];
    bank.presets.push_back(std::move(preset));
    return bank;
}

void CBankStore::setNumber(CPreset& preset, const std::string& id, const std::string& attribute,
                           float value)
{
    preset.params[id][attribute] = formatNumber(value);
}

void CBankStore::setText(CPreset& preset, const std::string& id, const std::string& attribute,
                         const std::string& text)
{
    preset.params[id][attribute] = text;
}

std::string CBankStore::get(const CPreset& preset, const std::string& id,
                            const std::string& attribute)
{
    const auto entry = preset.params.find(id);
    if (entry == preset.params.end())
        return std::string();
    const auto value = entry->second.find(attribute);
    return value == entry->second.end() ? std::string() : value->second;
}

std::shared_ptr<CPreset> CBankStore::presetByIndex(int index)
{
    if (currentBank_ < banks_.size() && index >= 0) {
        const auto& presets = banks_[currentBank_]->presets;
        if (static_cast<std::size_t>(index) < presets.size() && presets[index])
            current_ = presets[index];
    }
    return current_;
}

void CBankStore::buildBank(const CBank& bank)
{
    XMLElement* bankElement = document_->NewElement("Bank");
    bankElement->SetAttribute("name", bank.name.c_str());
    bankElement->SetAttribute("modified", bank.modified.c_str());
    bankElement->SetAttribute("author", bank.author.c_str());
    for (const auto& preset : bank.presets) {
        if (!preset)
            continue;
        XMLElement* presetElement = document_->NewElement("Preset");
        presetElement->SetAttribute("name", preset->name.c_str());
        presetElement->SetAttribute("plugin", preset->plugin.c_str());
        presetElement->SetAttribute("plugin-version", preset->pluginVersion.c_str());
        presetElement->SetAttribute("group", preset->group.c_str());
        presetElement->SetAttribute("sub-group", preset->subGroup.c_str());
        presetElement->SetAttribute("modified", preset->modified.c_str());
        presetElement->SetAttribute("tuning-map", preset->tuningMap.c_str());
        // The author is written only when there is one: presets the effect makes carry none,
        // so their documents keep the established shape, while a loaded author survives a save.
        if (!preset->author.empty())
            presetElement->SetAttribute("author", preset->author.c_str());
        for (const auto& [id, attributes] : preset->params) {
            XMLElement* param = document_->NewElement("param");
            param->SetAttribute("id", id.c_str());
            for (const auto& [name, value] : attributes) {
                // An attribute called "id" would overwrite the entry's id.
                if (name == "id" || name.empty())
                    continue;
                param->SetAttribute(name.c_str(), value.c_str());
            }
            presetElement->InsertEndChild(param);
        }
        bankElement->InsertEndChild(presetElement);
    }
    document_->InsertEndChild(bankElement);
}

const std::string& CBankStore::save()
{
    try {
        document_->Clear();
        document_->InsertEndChild(document_->NewDeclaration("xml version=\"1.0\""));
        for (const auto& bank : banks_)
            if (bank)
                buildBank(*bank);
        tinyxml2::XMLPrinter printer;
        document_->Print(&printer);
        if (document_->Error())
            throw CBankStoreError(kSaveFailedText);
        savedText_.assign(printer.CStr(), static_cast<std::size_t>(printer.CStrSize() - 1));
    }
    catch (const std::exception&) {
        document_->Clear();
        throw CBankStoreError(kSaveFailedText);
    }
    document_->Clear();
    return savedText_;
}

void CBankStore::readBank(const XMLElement& element)
{
    banks_.clear();
    banks_.push_back(std::make_unique<CBank>());
    currentBank_ = 0;
    CBank& bank = *banks_.front();

    const auto bankAttributes = collectAttributes(element);
    bank.modified = take(bankAttributes, "modified", currentDateText());
    bank.name = take(bankAttributes, "name");
    bank.author = take(bankAttributes, "author");

    for (const XMLElement* presetElement = &firstChildElement(element); presetElement != nullptr;
         presetElement = presetElement->NextSiblingElement()) {
        const auto attributes = collectAttributes(*presetElement);
        auto preset = newPreset(take(attributes, "plugin"), take(attributes, "plugin-version"),
                                take(attributes, "name"));
        preset->modified = take(attributes, "modified", preset->modified);
        preset->group = take(attributes, "group");
        preset->subGroup = take(attributes, "sub-group");
        preset->author = take(attributes, "author");
        preset->tuningMap = take(attributes, "tuning-map");
        // The entries are most of a document: read them straight into the preset (a repeated
        // attribute counts with its last value, as everywhere else).
        for (const XMLElement* param = &firstChildElement(*presetElement); param != nullptr;
             param = param->NextSiblingElement()) {
            if (param->FirstAttribute() == nullptr)
                throw CBankStoreError(kLoadFailedText);
            const char* id = "";
            for (const XMLAttribute* a = param->FirstAttribute(); a != nullptr; a = a->Next())
                if (std::strcmp(a->Name(), "id") == 0)
                    id = a->Value();
            auto& entry = preset->params[id];
            for (const XMLAttribute* a = param->FirstAttribute(); a != nullptr; a = a->Next())
                if (std::strcmp(a->Name(), "id") != 0)
                    entry[a->Name()] = a->Value();
        }
        if (bank.presets.size() == kMaxPresets)
            throw CBankStoreError(kLoadFailedText);
        bank.presets.push_back(preset);
        current_ = preset;
    }
}

void CBankStore::load(std::string_view text)
{
    if (!withinBounds(text))
        throw CBankStoreError(kLoadFailedText);
    try {
        document_->Clear();
        if (text.empty() || document_->Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS)
            throw CBankStoreError(kLoadFailedText);
        const XMLElement* bankElement = skv::xml::findElementSection(document_.get(), "Bank");
        if (bankElement == nullptr)
            throw CBankStoreError(kLoadFailedText);
        readBank(*bankElement);
    }
    catch (const std::exception&) {
        document_->Clear();
        throw CBankStoreError(kLoadFailedText);
    }
    document_->Clear();
}
