// The process-wide preset bank store: builds the preset bank document (banks of presets of
// parameter entries, no root element around the banks) and reads one back. The effect's state
// chunk is such a document. Used only from the host's user-interface thread; no lock.
#pragma once

#include "config/Preset.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tinyxml2 {
class XMLDocument;
class XMLElement;
}  // namespace tinyxml2

// Raised by the store; what() is one of the three texts below.
class CBankStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

extern const char* const kBankErrorText;   // "preset bank error"
extern const char* const kSaveFailedText;  // "Save failed"
extern const char* const kLoadFailedText;  // "Load failed"

class CBankStore {
public:
    // The one store of the process, created on first call.
    static CBankStore& instance();

    // A store holding one bank with the defaults ("Default"). Tests make their own.
    CBankStore();
    ~CBankStore();
    CBankStore(const CBankStore&) = delete;
    CBankStore& operator=(const CBankStore&) = delete;

    // Deletes every bank and its presets; the list becomes empty.
    void clearBanks();
    // A preset with the data-model defaults; it becomes the current preset.
    std::shared_ptr<CPreset> newPreset(const std::string& plugin, const std::string& pluginVersion,
                                       const std::string& name);
    // Appends the preset to the current bank (made first when there is no bank).
    // Throws CBankStoreError("preset bank error") when the current index names no bank.
    CBank& addPreset(std::shared_ptr<CPreset> preset);

    static void setNumber(CPreset& preset, const std::string& id, const std::string& attribute,
                          float value);
    static void setText(CPreset& preset, const std::string& id, const std::string& attribute,
                        const std::string& text);
    // params[id][attribute], or empty text when either is missing.
    static std::string get(const CPreset& preset, const std::string& id,
                           const std::string& attribute);

    // The index-th preset of the current bank, which becomes current; any index outside the
    // bank answers the current preset unchanged (null when there is none).
    std::shared_ptr<CPreset> presetByIndex(int index);
    std::shared_ptr<CPreset> currentPreset() const { return current_; }

    // The document of all banks as text; the text is kept until the next save.
    // Throws CBankStoreError("Save failed").
    const std::string& save();
    // Reads the first top-level element whose name begins with "Bank" into a new only bank.
    // Throws CBankStoreError("Load failed"); the banks then hold what was read so far.
    void load(std::string_view text);

    const std::vector<std::unique_ptr<CBank>>& banks() const { return banks_; }
    std::size_t currentBankIndex() const { return currentBank_; }

private:
    void buildBank(const CBank& bank);
    void readBank(const tinyxml2::XMLElement& element);

    std::vector<std::unique_ptr<CBank>> banks_;
    std::size_t currentBank_ = 0;
    std::shared_ptr<CPreset> current_;
    std::unique_ptr<tinyxml2::XMLDocument> document_;
    std::string savedText_;
};
