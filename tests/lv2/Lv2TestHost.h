// An LV2 host for tests, built on lilv as real hosts are: copies the built bundle into a fresh
// scratch folder (so config.xml beside the binary starts clean and two hosts load two
// independent copies), discovers it by URI through LV2_PATH, instantiates it with urid:map and
// the block-length options, feeds the control sequence (MIDI, time:Position) and the control
// ports block by block, and saves and restores state through the plug-in's state interface.
#pragma once

#include "support/ScratchFolder.h"

#include <lilv/lilv.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace skvtest {

constexpr const char* kLv2PluginUri = "https://skorvaline.org/plugins/skorvaline";
constexpr const char* kLv2BankUri = "https://skorvaline.org/plugins/skorvaline#bank";
constexpr std::uint32_t kLv2FirstParamPort = 5;
constexpr std::uint32_t kLv2NumParams = 53;

/// One stored state property.
struct Lv2Property {
    std::string key;
    std::string type;
    std::string value;  // bytes as stored (a string keeps its terminating zero)
};

class CLv2TestHost {
public:
    /// Scratch copy of the bundle and a lilv world that has discovered it; no instance yet.
    CLv2TestHost();
    ~CLv2TestHost();
    CLv2TestHost(const CLv2TestHost&) = delete;
    CLv2TestHost& operator=(const CLv2TestHost&) = delete;

    const std::filesystem::path& folder() const { return scratch.path(); }
    std::filesystem::path bundle() const { return folder() / "Skorvaline.lv2"; }
    LilvWorld* world() const { return lilvWorld; }
    /// The plug-in found by URI, or null.
    const LilvPlugin* plugin() const { return lilvPlugin; }

    /// Instantiates (block-length options announce `block` frames), connects every port and
    /// activates. Control ports start at the defaults the bundle declares. False on failure.
    bool instantiate(double sampleRate = 44100.0, std::uint32_t block = 512);
    LilvInstance* instance() const { return lilvInstance; }
    /// Deactivates and frees the instance now (a host closing the plug-in).
    void freeInstance();

    /// Control input of parameter 0..52 (what the host shows); takes effect at the next block.
    float& control(int parameter) { return controls[parameter]; }
    /// Scan-position outputs after the last block (0 left, 1 right).
    float position(int channel) const { return positions[channel]; }

    /// Queue events for the next block, all at frame 0.
    void queueMidi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
    void queueTimePosition(float bpm, float speed, std::int64_t bar, float barBeat, double beat);

    /// Runs blocks of `block` frames (the last one shorter) over two equal-length channels.
    void run(const std::vector<float>& inL, const std::vector<float>& inR, std::vector<float>& outL,
             std::vector<float>& outR, std::size_t block = 512);

    /// State through the plug-in's interface; mapPath null means no map-path feature.
    int save(std::vector<Lv2Property>& properties, const LV2_State_Map_Path* mapPath = nullptr);
    int restore(const std::vector<Lv2Property>& properties,
                const LV2_State_Map_Path* mapPath = nullptr);
    /// The state as a host serialises it (lilv state as Turtle text) and back.
    std::string saveLilvState();
    bool restoreLilvState(const std::string& text);

    LV2_URID map(const char* uri);
    const char* unmap(LV2_URID id) const;

private:
    static LV2_URID mapCallback(LV2_URID_Map_Handle handle, const char* uri);
    static const char* unmapCallback(LV2_URID_Unmap_Handle handle, LV2_URID id);

    CScratchFolder scratch;
    LilvWorld* lilvWorld = nullptr;
    const LilvPlugin* lilvPlugin = nullptr;
    LilvInstance* lilvInstance = nullptr;
    std::vector<std::string> uris;
    LV2_URID_Map mapFeatureData{};
    LV2_URID_Unmap unmapFeatureData{};
    std::int32_t blockOption = 0;
    std::vector<LV2_Options_Option> options;
    std::vector<LV2_Feature> featureStore;
    std::vector<const LV2_Feature*> features;

    std::array<float, kLv2NumParams> controls{};
    std::array<float, 2> positions{};
    alignas(8) std::array<unsigned char, 8192> sequence{};
    struct PendingEvent {
        bool midi = true;
        std::uint8_t bytes[3] = {0, 0, 0};
        float bpm = 0.0f, speed = 0.0f, barBeat = 0.0f;
        std::int64_t bar = 0;
        double beat = 0.0;
    };
    std::vector<PendingEvent> pending;
    void forgeSequence();
};

}  // namespace skvtest
