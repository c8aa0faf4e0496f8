// The SDK-shaped bases: defaults a host observes, opcode routing through the AEffect record,
// host services with and without a host callback, and editor forwarding.
#include "vst/AEffEditor.h"
#include "vst/AudioEffectX.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct Call {
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    float opt;
};
std::vector<Call> hostCalls;
VstIntPtr hostAnswer = 0;

VstIntPtr recordingHost(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr value, void*,
                        float opt)
{
    hostCalls.push_back({opcode, index, value, opt});
    return hostAnswer;
}

class CProbeEffect : public AudioEffectX {
public:
    CProbeEffect(audioMasterCallback host, bool* destroyed = nullptr)
        : AudioEffectX(host, 4, 3), destroyed(destroyed)
    {
    }
    ~CProbeEffect() override
    {
        if (destroyed) {
            *destroyed = true;
        }
    }
    void setParameter(VstInt32 index, float value) override
    {
        order.push_back(-1);  // marks "set in the effect"
        lastIndex = index;
        lastValue = value;
    }
    void resume() override { ++resumes; }
    void suspend() override { ++suspends; }
    VstInt32 getChunk(void** data, bool isPreset) override
    {
        *data = chunk;
        chunkWasPreset = isPreset;
        return 4;
    }

    using AudioEffect::getAeffect;
    std::vector<int> order;
    VstInt32 lastIndex = -1;
    float lastValue = 0.0f;
    int resumes = 0;
    int suspends = 0;
    bool chunkWasPreset = false;
    char chunk[4] = {'a', 'b', 'c', 'd'};
    bool* destroyed;
};

class CProbeEditor : public AEffEditor {
public:
    explicit CProbeEditor(AudioEffect* effect) : AEffEditor(effect) {}
    bool getRect(ERect** rect) override
    {
        *rect = &area;
        return true;
    }
    bool open(void* ptr) override
    {
        AEffEditor::open(ptr);
        return true;
    }
    void update() override { ++updates; }
    bool onKeyDown(VstKeyCode& key) override
    {
        lastKey = key;
        return key.character == 'a';
    }
    ERect area{0, 0, 390, 788};
    int updates = 0;
    VstKeyCode lastKey{};
};

VstIntPtr dispatch(AEffect* e, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                   void* ptr = nullptr, float opt = 0.0f)
{
    return e->dispatcher(e, opcode, index, value, ptr, opt);
}

}  // namespace

TEST(AudioEffect, RecordCarriesSdkDefaults)
{
    CProbeEffect effect(nullptr);
    AEffect* e = effect.getAeffect();
    EXPECT_EQ(e->magic, 0x56737450);
    EXPECT_EQ(e->numPrograms, 4);
    EXPECT_EQ(e->numParams, 3);
    EXPECT_EQ(e->version, 1);
    EXPECT_FLOAT_EQ(e->ioRatio, 1.0f);
    EXPECT_EQ(e->object, &effect);
    EXPECT_EQ(e->flags, 0);
    EXPECT_EQ(e->resvd1, 0);
    EXPECT_EQ(e->resvd2, 0);
    EXPECT_EQ(effect.getSampleRate(), 44100.0f);
    EXPECT_EQ(effect.getBlockSize(), 1024);
    EXPECT_EQ(dispatch(e, effGetProgram), 0);
    EXPECT_EQ(dispatch(e, effGetVstVersion), 2300);
    // Bytes 128..191 are zero for a 2.3-level effect.
    const auto* bytes = reinterpret_cast<const unsigned char*>(e);
    for (int i = 128; i < 188; ++i) {
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    }
}

TEST(AudioEffect, FourCharacterCodesPutTheFirstCharacterHighest)
{
    EXPECT_EQ(vstFourCC('S', 'k', 'v', 'L'), 0x536B764C);
    EXPECT_EQ(vstFourCC('V', 's', 't', 'P'), 1450406992);
}

TEST(AudioEffect, DispatcherRoutesLevelOneOpcodes)
{
    CProbeEffect effect(nullptr);
    AEffect* e = effect.getAeffect();
    dispatch(e, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    dispatch(e, effSetBlockSize, 0, 256);
    EXPECT_EQ(effect.getSampleRate(), 48000.0f);
    EXPECT_EQ(effect.getBlockSize(), 256);
    dispatch(e, effSetBlockSizeAndSampleRate, 0, 64, nullptr, 96000.0f);
    EXPECT_EQ(effect.getSampleRate(), 96000.0f);
    EXPECT_EQ(effect.getBlockSize(), 64);

    dispatch(e, effMainsChanged, 0, 1);
    dispatch(e, effMainsChanged, 0, 1);
    dispatch(e, effMainsChanged, 0, 0);
    EXPECT_EQ(effect.resumes, 2);
    EXPECT_EQ(effect.suspends, 1);

    dispatch(e, effSetProgram, 0, 3);
    EXPECT_EQ(dispatch(e, effGetProgram), 3);
    dispatch(e, effSetProgram, 0, 4);  // beyond the programs: ignored
    dispatch(e, effSetProgram, 0, -1);
    EXPECT_EQ(dispatch(e, effGetProgram), 3);

    void* data = nullptr;
    EXPECT_EQ(dispatch(e, effGetChunk, 1, 0, &data), 4);
    EXPECT_EQ(data, effect.chunk);
    EXPECT_TRUE(effect.chunkWasPreset);
    EXPECT_EQ(dispatch(e, effGetChunk, 0, 0, nullptr), 0);  // no place to store the pointer

    char name[32] = "untouched";
    dispatch(e, effGetProgramName, 0, 0, name);
    EXPECT_STREQ(name, "");

    // Unknown and unanswered opcodes.
    EXPECT_EQ(dispatch(e, 200), 0);
    EXPECT_EQ(dispatch(e, effCanDo, 0, 0, const_cast<char*>("anything")), 0);
    EXPECT_EQ(dispatch(e, effGetNumProgramCategories), 1);
    EXPECT_EQ(dispatch(e, effCanBeAutomated, 2), 1);
    EXPECT_EQ(dispatch(e, effKeysRequired), 1);
    EXPECT_EQ(dispatch(e, effIdentify), vstFourCC('N', 'v', 'E', 'f'));
}

TEST(AudioEffect, CloseThroughTheRecordDeletesTheEffect)
{
    bool destroyed = false;
    auto* effect = new CProbeEffect(nullptr, &destroyed);
    AEffect* e = effect->getAeffect();
    EXPECT_EQ(dispatch(e, effClose), 1);
    EXPECT_TRUE(destroyed);
}

TEST(AudioEffect, HostServicesAreSkippedWithoutAHost)
{
    hostCalls.clear();
    CProbeEffect effect(nullptr);
    EXPECT_EQ(effect.getTimeInfo(0x2E01), nullptr);
    EXPECT_FALSE(effect.needIdle());
    EXPECT_FALSE(effect.updateDisplay());
    effect.wantEvents(1);
    effect.masterIdle();
    effect.beginEdit(2);
    effect.endEdit(2);
    effect.setParameterAutomated(1, 0.5f);
    EXPECT_EQ(effect.lastIndex, 1);  // still set in the effect
    EXPECT_EQ(effect.getMasterVersion(), 0);
    EXPECT_TRUE(hostCalls.empty());
}

TEST(AudioEffect, HostServicesSendTheirOpcodes)
{
    hostCalls.clear();
    hostAnswer = 0;
    CProbeEffect effect(&recordingHost);
    effect.wantEvents(1);
    effect.getTimeInfo(0x2E01);
    effect.needIdle();
    effect.updateDisplay();
    effect.beginEdit(7);
    effect.endEdit(7);
    effect.masterIdle();
    ASSERT_EQ(hostCalls.size(), 7u);
    EXPECT_EQ(hostCalls[0].opcode, audioMasterWantMidi);
    EXPECT_EQ(hostCalls[0].value, 1);
    EXPECT_EQ(hostCalls[1].opcode, audioMasterGetTime);
    EXPECT_EQ(hostCalls[1].value, 0x2E01);
    EXPECT_EQ(hostCalls[2].opcode, audioMasterNeedIdle);
    EXPECT_EQ(hostCalls[3].opcode, audioMasterUpdateDisplay);
    EXPECT_EQ(hostCalls[4].opcode, audioMasterBeginEdit);
    EXPECT_EQ(hostCalls[4].index, 7);
    EXPECT_EQ(hostCalls[5].opcode, audioMasterEndEdit);
    EXPECT_EQ(hostCalls[5].index, 7);
    EXPECT_EQ(hostCalls[6].opcode, audioMasterIdle);
}

TEST(AudioEffect, AutomationSetsTheEffectBeforeTellingTheHost)
{
    hostCalls.clear();
    CProbeEffect effect(&recordingHost);
    effect.setParameterAutomated(2, 0.25f);
    EXPECT_EQ(effect.lastIndex, 2);
    EXPECT_EQ(effect.lastValue, 0.25f);
    ASSERT_EQ(hostCalls.size(), 1u);
    EXPECT_EQ(hostCalls[0].opcode, audioMasterAutomate);
    EXPECT_EQ(hostCalls[0].index, 2);
    EXPECT_EQ(hostCalls[0].opt, 0.25f);
}

TEST(AudioEffect, ParameterAndProcessCallsGoThroughTheRecord)
{
    CProbeEffect effect(nullptr);
    AEffect* e = effect.getAeffect();
    e->setParameter(e, 1, 0.75f);
    EXPECT_EQ(effect.lastIndex, 1);
    EXPECT_EQ(effect.lastValue, 0.75f);
    EXPECT_EQ(e->getParameter(e, 1), 0.0f);
    float l[4] = {1, 2, 3, 4};
    float* io[2] = {l, l};
    e->processReplacing(e, io, io, 4);  // default does nothing, and must not crash
    e->process(e, io, io, 0);
    EXPECT_EQ(l[3], 4.0f);
}

TEST(AudioEffect, EditorOpcodesReachTheEditor)
{
    CProbeEffect effect(nullptr);
    AEffect* e = effect.getAeffect();
    ERect* rect = nullptr;
    EXPECT_EQ(dispatch(e, effEditGetRect, 0, 0, &rect), 0);  // no editor yet
    EXPECT_EQ(dispatch(e, effEditOpen, 0, 0, reinterpret_cast<void*>(0x1234)), 0);

    auto* editor = new CProbeEditor(&effect);
    effect.setEditor(editor);
    EXPECT_EQ(e->flags & effFlagsHasEditor, effFlagsHasEditor);
    EXPECT_EQ(dispatch(e, effEditGetRect, 0, 0, &rect), 1);
    ASSERT_EQ(rect, &editor->area);
    EXPECT_EQ(rect->right - rect->left, 788);
    EXPECT_EQ(dispatch(e, effEditOpen, 0, 0, reinterpret_cast<void*>(0x1234)), 1);
    EXPECT_EQ(editor->getSystemWindow(), reinterpret_cast<void*>(0x1234));

    dispatch(e, effEditIdle);
    EXPECT_EQ(editor->updates, 0);
    editor->postUpdate();
    dispatch(e, effEditIdle);
    dispatch(e, effEditIdle);
    EXPECT_EQ(editor->updates, 1);  // one refresh per postUpdate

    EXPECT_EQ(dispatch(e, effEditKeyDown, 'a', 4, nullptr, 8.0f), 1);
    EXPECT_EQ(editor->lastKey.character, 'a');
    EXPECT_EQ(editor->lastKey.virt, 4);
    EXPECT_EQ(editor->lastKey.modifier, 8);
    EXPECT_EQ(dispatch(e, effEditKeyDown, 'b'), 0);
    dispatch(e, effEditClose);
    EXPECT_EQ(editor->getSystemWindow(), nullptr);

    effect.setEditor(nullptr);
    EXPECT_EQ(e->flags & effFlagsHasEditor, 0);
    delete editor;
}
