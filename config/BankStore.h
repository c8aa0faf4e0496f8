// The process-wide preset bank store: builds the preset bank document (banks of presets of
// parameter entries, no root element around the banks) and reads one back. The effect's state
// chunk is such a document. Hosts save and restore states on more than one thread, and every
// instance shares the store, so each use (clear, fill, save; or load, read) holds lock().
// A document is bounded before it is parsed: the parser builds a node of a hundred bytes or
// more from every few bytes of markup, so text of harmless size could otherwise take
// gigabytes.
#pragma once

#include "config/Preset.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tinyxml2 {
class XMLDocument;
class XMLElement;
}  // namespace tinyxml2

/// Raised by the store; what() is one of the three texts below.
class CBankStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

extern const char* const kBankErrorText;   // "preset bank error"
extern const char* const kSaveFailedText;  // "Save failed"
extern const char* const kLoadFailedText;  // "Load failed"

class CBankStore {
public:
    /// What a loaded document may hold. A bank of the effect has 16 presets of 57 elements
    /// (55 entries) with about 120 attributes each; these leave four times that room.
    static constexpr std::size_t kMaxPresets = 64;
    static constexpr std::size_t kMaxElementsPerPreset = 64;
    static constexpr std::size_t kMaxElements = kMaxPresets * kMaxElementsPerPreset;  // 4096
    /// Every node but text begins with "<" (an element at most twice, open and close), every
    /// attribute needs "=": counting both in the raw text bounds what parsing may build.
    static constexpr std::size_t kMaxMarkup = 2 * kMaxElements + 16;
    static constexpr std::size_t kMaxAttributes = 4 * kMaxElements;
    /// Text length: sixteen programs with two of the largest pictures as image text stay
    /// far below it.
    static constexpr std::size_t kMaxDocumentBytes = std::size_t(256) << 20;

    /// The one store of the process, created on first call.
    static CBankStore& instance();
    /// Held around every use of a shared store; never on the audio thread.
    [[nodiscard]] std::unique_lock<std::mutex> lock() { return std::unique_lock(mutex_); }

    /// A store holding one bank with the defaults ("Default"). Tests make their own.
    CBankStore();
    ~CBankStore();
    CBankStore(const CBankStore&) = delete;
    CBankStore& operator=(const CBankStore&) = delete;

    /// Deletes every bank and its presets; the list becomes empty.
    void clearBanks();
    /// A preset with the data-model defaults; it becomes the current preset.
    std::shared_ptr<CPreset> newPreset(const std::string& plugin, const std::string& pluginVersion,
                                       const std::string& name);
    /// Appends the preset to the current bank (made first when there is no bank).
    /// Throws CBankStoreError("preset bank error") when the current index names no bank.
    CBank& addPreset(std::shared_ptr<CPreset> preset);

    static void setNumber(CPreset& preset, const std::string& id, const std::string& attribute,
                          float value);
    static void setText(CPreset& preset, const std::string& id, const std::string& attribute,
                        const std::string& text);
    /// params[id][attribute], or empty text when either is missing.
    static std::string get(const CPreset& preset, const std::string& id,
                           const std::string& attribute);

    /// The index-th preset of the current bank, which becomes current; any index outside the
    /// bank answers the current preset unchanged (null when there is none).
    std::shared_ptr<CPreset> presetByIndex(int index);
    std::shared_ptr<CPreset> currentPreset() const { return current_; }

    /// The document of all banks as text; the text is kept until the next save.
    /// Throws CBankStoreError("Save failed").
    const std::string& save();
    /// Reads the first top-level element whose name begins with "Bank" into a new only bank.
    /// Throws CBankStoreError("Load failed"); the banks then hold what was read so far. Text
    /// beyond the bounds above fails before anything is parsed or changed.
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
    std::mutex mutex_;
};
