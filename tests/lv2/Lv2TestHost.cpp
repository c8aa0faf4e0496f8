// lilv-based test host: discovery, instantiation with features, block runs and state.
#include "lv2/Lv2TestHost.h"

#include <lv2/atom/forge.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/midi/midi.h>
#include <lv2/time/time.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#ifndef SKV_LV2_BUNDLE
#error "SKV_LV2_BUNDLE must name the built bundle folder"
#endif

namespace fs = std::filesystem;

namespace skvtest {

CLv2TestHost::CLv2TestHost()
{
    fs::copy(SKV_LV2_BUNDLE, bundle(), fs::copy_options::recursive);
    mapFeatureData = {this, &CLv2TestHost::mapCallback};
    unmapFeatureData = {this, &CLv2TestHost::unmapCallback};
    lilvWorld = lilv_world_new();
    LilvNode* path = lilv_new_string(lilvWorld, folder().c_str());
    lilv_world_set_option(lilvWorld, LILV_OPTION_LV2_PATH, path);
    lilv_node_free(path);
    lilv_world_load_all(lilvWorld);
    LilvNode* uri = lilv_new_uri(lilvWorld, kLv2PluginUri);
    lilvPlugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(lilvWorld), uri);
    lilv_node_free(uri);
}

CLv2TestHost::~CLv2TestHost()
{
    freeInstance();
    lilv_world_free(lilvWorld);
}

void CLv2TestHost::freeInstance()
{
    if (lilvInstance) {
        lilv_instance_deactivate(lilvInstance);
        lilv_instance_free(lilvInstance);
        lilvInstance = nullptr;
    }
}

LV2_URID CLv2TestHost::map(const char* uri)
{
    const auto found = std::find(uris.begin(), uris.end(), uri);
    if (found != uris.end()) {
        return static_cast<LV2_URID>(found - uris.begin() + 1);
    }
    uris.emplace_back(uri);
    return static_cast<LV2_URID>(uris.size());
}

const char* CLv2TestHost::unmap(LV2_URID id) const
{
    return id >= 1 && id <= uris.size() ? uris[id - 1].c_str() : nullptr;
}

LV2_URID CLv2TestHost::mapCallback(LV2_URID_Map_Handle handle, const char* uri)
{
    return static_cast<CLv2TestHost*>(handle)->map(uri);
}

const char* CLv2TestHost::unmapCallback(LV2_URID_Unmap_Handle handle, LV2_URID id)
{
    return static_cast<CLv2TestHost*>(handle)->unmap(id);
}

bool CLv2TestHost::instantiate(double sampleRate, std::uint32_t block)
{
    if (!lilvPlugin) {
        return false;
    }
    blockOption = static_cast<std::int32_t>(block);
    const LV2_URID atomInt = map(LV2_ATOM__Int);
    options = {
        {LV2_OPTIONS_INSTANCE, 0, map(LV2_BUF_SIZE__nominalBlockLength), sizeof(std::int32_t),
         atomInt, &blockOption},
        {LV2_OPTIONS_INSTANCE, 0, map(LV2_BUF_SIZE__maxBlockLength), sizeof(std::int32_t), atomInt,
         &blockOption},
        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr},
    };
    featureStore = {{LV2_URID__map, &mapFeatureData},
                    {LV2_URID__unmap, &unmapFeatureData},
                    {LV2_OPTIONS__options, options.data()},
                    {LV2_BUF_SIZE__boundedBlockLength, nullptr}};
    features.clear();
    for (const LV2_Feature& f : featureStore) {
        features.push_back(&f);
    }
    features.push_back(nullptr);
    lilvInstance = lilv_plugin_instantiate(lilvPlugin, sampleRate, features.data());
    if (!lilvInstance) {
        return false;
    }
    std::vector<float> mins(lilv_plugin_get_num_ports(lilvPlugin));
    std::vector<float> maxs(mins.size());
    std::vector<float> defaults(mins.size());
    lilv_plugin_get_port_ranges_float(lilvPlugin, mins.data(), maxs.data(), defaults.data());
    for (std::uint32_t i = 0; i < kLv2NumParams; ++i) {
        controls[i] = defaults[kLv2FirstParamPort + i];
        lilv_instance_connect_port(lilvInstance, kLv2FirstParamPort + i, &controls[i]);
    }
    lilv_instance_connect_port(lilvInstance, kLv2FirstParamPort + kLv2NumParams, &positions[0]);
    lilv_instance_connect_port(lilvInstance, kLv2FirstParamPort + kLv2NumParams + 1, &positions[1]);
    lilv_instance_connect_port(lilvInstance, 4, sequence.data());
    forgeSequence();
    lilv_instance_activate(lilvInstance);
    return true;
}

void CLv2TestHost::queueMidi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    PendingEvent e;
    e.bytes[0] = status;
    e.bytes[1] = data1;
    e.bytes[2] = data2;
    pending.push_back(e);
}

void CLv2TestHost::queueTimePosition(float bpm, float speed, std::int64_t bar, float barBeat,
                                     double beat)
{
    PendingEvent e;
    e.midi = false;
    e.bpm = bpm;
    e.speed = speed;
    e.bar = bar;
    e.barBeat = barBeat;
    e.beat = beat;
    pending.push_back(e);
}

void CLv2TestHost::forgeSequence()
{
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, &mapFeatureData);
    lv2_atom_forge_set_buffer(&forge, sequence.data(), sequence.size());
    LV2_Atom_Forge_Frame frame;
    lv2_atom_forge_sequence_head(&forge, &frame, 0);
    for (const PendingEvent& e : pending) {
        lv2_atom_forge_frame_time(&forge, 0);
        if (e.midi) {
            lv2_atom_forge_atom(&forge, 3, map(LV2_MIDI__MidiEvent));
            lv2_atom_forge_write(&forge, e.bytes, 3);
            continue;
        }
        LV2_Atom_Forge_Frame object;
        lv2_atom_forge_object(&forge, &object, 0, map(LV2_TIME__Position));
        lv2_atom_forge_key(&forge, map(LV2_TIME__beatsPerMinute));
        lv2_atom_forge_float(&forge, e.bpm);
        lv2_atom_forge_key(&forge, map(LV2_TIME__speed));
        lv2_atom_forge_float(&forge, e.speed);
        lv2_atom_forge_key(&forge, map(LV2_TIME__bar));
        lv2_atom_forge_long(&forge, e.bar);
        lv2_atom_forge_key(&forge, map(LV2_TIME__barBeat));
        lv2_atom_forge_float(&forge, e.barBeat);
        lv2_atom_forge_key(&forge, map(LV2_TIME__beat));
        lv2_atom_forge_double(&forge, e.beat);
        lv2_atom_forge_key(&forge, map(LV2_TIME__beatsPerBar));
        lv2_atom_forge_float(&forge, 4.0f);
        lv2_atom_forge_key(&forge, map(LV2_TIME__beatUnit));
        lv2_atom_forge_int(&forge, 4);
        lv2_atom_forge_pop(&forge, &object);
    }
    lv2_atom_forge_pop(&forge, &frame);
    pending.clear();
}

void CLv2TestHost::run(const std::vector<float>& inL, const std::vector<float>& inR,
                       std::vector<float>& outL, std::vector<float>& outR, std::size_t block)
{
    outL.resize(inL.size());
    outR.resize(inR.size());
    for (std::size_t at = 0; at < inL.size(); at += block) {
        const std::size_t n = std::min(block, inL.size() - at);
        forgeSequence();
        lilv_instance_connect_port(lilvInstance, 0, const_cast<float*>(inL.data() + at));
        lilv_instance_connect_port(lilvInstance, 1, const_cast<float*>(inR.data() + at));
        lilv_instance_connect_port(lilvInstance, 2, outL.data() + at);
        lilv_instance_connect_port(lilvInstance, 3, outR.data() + at);
        lilv_instance_run(lilvInstance, static_cast<std::uint32_t>(n));
    }
    forgeSequence();
}

namespace {

struct StoreContext {
    CLv2TestHost* host;
    std::vector<Lv2Property>* properties;
};

LV2_State_Status storeProperty(LV2_State_Handle handle, std::uint32_t key, const void* value,
                               std::size_t size, std::uint32_t type, std::uint32_t /*flags*/)
{
    auto* context = static_cast<StoreContext*>(handle);
    context->properties->push_back({context->host->unmap(key), context->host->unmap(type),
                                    std::string(static_cast<const char*>(value), size)});
    return LV2_STATE_SUCCESS;
}

struct RetrieveContext {
    CLv2TestHost* host;
    const std::vector<Lv2Property>* properties;
};

const void* retrieveProperty(LV2_State_Handle handle, std::uint32_t key, std::size_t* size,
                             std::uint32_t* type, std::uint32_t* flags)
{
    auto* context = static_cast<RetrieveContext*>(handle);
    for (const Lv2Property& p : *context->properties) {
        if (p.key == context->host->unmap(key)) {
            *size = p.value.size();
            *type = context->host->map(p.type.c_str());
            *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
            return p.value.data();
        }
    }
    return nullptr;
}

const LV2_State_Interface* stateInterface(LilvInstance* instance)
{
    return static_cast<const LV2_State_Interface*>(
        lilv_instance_get_extension_data(instance, LV2_STATE__interface));
}

}  // namespace

int CLv2TestHost::save(std::vector<Lv2Property>& properties, const LV2_State_Map_Path* mapPath)
{
    const LV2_State_Interface* state = stateInterface(lilvInstance);
    if (!state) {
        return -1;
    }
    StoreContext context{this, &properties};
    const LV2_Feature mapFeature{LV2_STATE__mapPath, const_cast<LV2_State_Map_Path*>(mapPath)};
    const LV2_Feature* list[] = {mapPath ? &mapFeature : nullptr, nullptr};
    return state->save(lilv_instance_get_handle(lilvInstance), storeProperty, &context,
                       LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, list);
}

int CLv2TestHost::restore(const std::vector<Lv2Property>& properties,
                          const LV2_State_Map_Path* mapPath)
{
    const LV2_State_Interface* state = stateInterface(lilvInstance);
    if (!state) {
        return -1;
    }
    RetrieveContext context{this, &properties};
    const LV2_Feature mapFeature{LV2_STATE__mapPath, const_cast<LV2_State_Map_Path*>(mapPath)};
    const LV2_Feature* list[] = {mapPath ? &mapFeature : nullptr, nullptr};
    return state->restore(lilv_instance_get_handle(lilvInstance), retrieveProperty, &context, 0,
                          list);
}

namespace {

const void* portValue(const char* symbol, void* userData, std::uint32_t* size, std::uint32_t* type)
{
    auto* host = static_cast<CLv2TestHost*>(userData);
    for (std::uint32_t i = 0; i < kLv2NumParams; ++i) {
        const LilvPort* port =
            lilv_plugin_get_port_by_index(host->plugin(), kLv2FirstParamPort + i);
        if (std::strcmp(lilv_node_as_string(lilv_port_get_symbol(host->plugin(), port)), symbol) ==
            0) {
            *size = sizeof(float);
            *type = host->map(LV2_ATOM__Float);
            return &host->control(static_cast<int>(i));
        }
    }
    *size = 0;
    *type = 0;
    return nullptr;
}

void setPortValue(const char* symbol, void* userData, const void* value, std::uint32_t size,
                  std::uint32_t /*type*/)
{
    auto* host = static_cast<CLv2TestHost*>(userData);
    for (std::uint32_t i = 0; i < kLv2NumParams; ++i) {
        const LilvPort* port =
            lilv_plugin_get_port_by_index(host->plugin(), kLv2FirstParamPort + i);
        if (size == sizeof(float) &&
            std::strcmp(lilv_node_as_string(lilv_port_get_symbol(host->plugin(), port)), symbol) ==
                0) {
            std::memcpy(&host->control(static_cast<int>(i)), value, sizeof(float));
        }
    }
}

}  // namespace

std::string CLv2TestHost::saveLilvState()
{
    const std::string dir = (folder() / "state").string();
    LilvState* state = lilv_state_new_from_instance(
        lilvPlugin, lilvInstance, &mapFeatureData, nullptr, nullptr, nullptr, dir.c_str(),
        portValue, this, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, nullptr);
    if (!state) {
        return {};
    }
    char* text = lilv_state_to_string(lilvWorld, &mapFeatureData, &unmapFeatureData, state,
                                      "urn:skorvaline:test-state", nullptr);
    std::string result = text ? text : "";
    lilv_free(text);
    lilv_state_free(state);
    return result;
}

bool CLv2TestHost::restoreLilvState(const std::string& text)
{
    LilvState* state = lilv_state_new_from_string(lilvWorld, &mapFeatureData, text.c_str());
    if (!state) {
        return false;
    }
    lilv_state_restore(state, lilvInstance, setPortValue, this, 0, nullptr);
    lilv_state_free(state);
    return true;
}

}  // namespace skvtest
