// The parameter table: one row per parameter (name, label, default, slot, left/right twin and
// rule), and the rules that set the engine from a normalised value, read it back and show it.
// setParameter, getParameter, getParameterDisplay, the names and labels, programs, presets and
// the LV2 ports all answer from this one table, so adding a parameter means adding its row
// (and, when no existing rule fits, its rule) here, plus its tests.
//
// setParameter runs on any thread (automation, programs, the editor, MIDI); the engine values
// a rule writes are relaxed atomics, and whatever a unit must take over is posted to the audio
// thread, which applies it at its next block start.
#include "plugin/Skorvaline.h"

#include <cstring>

#include "dsp/SelBand.h"
#include "filtermap/BitmapArrayAnalyser.h"
#include "plugin/EngineConfig.h"
#include "plugin/ParameterTable.h"
#include "vst/AEffEditor.h"

using namespace skv;

namespace skv {

// What a rule works on: the effect, its engine, the parameter's index and its slot (channel
// 0 or 1 of a left/right pair, line 0..3 of the delays, path 0..3 of the feedback matrix).
// The effect's befriended view for the rules: it passes on the few protected operations
// that touch several engine values at once.
struct ParameterCall {
    fxSkorvaline& fx;
    EngineState& e;
    VstInt32 index;
    int slot;

    void setDelayTime(float x) const { fx.setDelayTime(slot, x); }
    void setDelayTimeOf(int line, float x) const { fx.setDelayTime(line, x); }
    void recomputeStepTime() const { fx.recomputeStepTime(); }
    void applyParameter(VstInt32 other, float x) const { fx.applyParameter(other, x); }
    // The filter map of the slot's channel (null only outside the effect's life).
    kfx::CBitmapArrayAnalyser* map() const { return e.map(slot); }
};

}  // namespace skv

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

using Call = ParameterCall;

// How a parameter sets the engine, reads it back and shows it. A null apply keeps the value
// in the program only; a null read answers 0; a null display leaves the host's buffer as it
// was.
struct ParameterRule {
    void (*apply)(const Call& p, float x);
    float (*read)(const Call& p);
    void (*display)(const Call& p, char* text);
};

// One parameter. twin is the index of its left/right counterpart (the same rule on the other
// slot), or -1 for a parameter of its own.
struct ParameterRow {
    const char* name;   // exactly as hosts and stored presets see it, trailing spaces included
    const char* label;  // nullptr: no label is written
    float defaultValue;
    int slot;
    int twin;
    const ParameterRule* rule;
};

// ---- display rules shared by several parameters -------------------------------------------

// The normalised value with two decimals.
void showValue(const Call& p, char* text)
{
    p.fx.formatFloat(p.fx.getParameter(p.index), text, 2);
}

// A float field of the engine with two decimals.
template <std::atomic<float> (EngineState::*Field)[2]>
void showField(const Call& p, char* text)
{
    p.fx.formatFloat((p.e.*Field)[p.slot].load(kRelaxed), text, 2);
}

// ---- rules -----------------------------------------------------------------------------------

// A per-channel value the engine takes as it is: stored and read back unchanged.
template <std::atomic<float> (EngineState::*Field)[2]>
constexpr ParameterRule storedRule(void (*display)(const Call&, char*))
{
    return {
        [](const Call& p, float x) { (p.e.*Field)[p.slot].store(x, kRelaxed); },
        [](const Call& p) { return (p.e.*Field)[p.slot].load(kRelaxed); },
        display,
    };
}

// Pre-delays and main delays (slot = line). A pre-delay shorter than a sample is "off"; synced
// delays show their unit count, free ones seconds, main delays with the filter order's share.
void showDelay(const Call& p, char* text)
{
    const DelayRecord& r = p.e.delay[p.slot];
    const float length = r.length.load(kRelaxed);
    const bool pre = p.slot < kLineL;
    if (pre && length == 0.0f) {
        std::strcpy(text, "off");
    }
    else if (r.synced.load(kRelaxed)) {
        formatFixed(r.units.load(kRelaxed), 0, text);
    }
    else {
        const double samples = pre ? length : double(length) + p.e.order.load(kRelaxed);
        formatFixed(samples / skv::kTimeBaseRate, 3, text);
    }
}

constexpr ParameterRule kDelay{
    [](const Call& p, float x) { p.setDelayTime(x); },
    [](const Call& p) { return p.e.delay[p.slot].value.load(kRelaxed); },
    showDelay,
};

constexpr ParameterRule kDirection =
    storedRule<&EngineState::direction>([](const Call& p, char* text) {
        std::strcpy(text, p.fx.getParameter(p.index) < 0.5f ? "fwrd" : "bkwrd");
    });

// Feedback matrix (slot = path LL, LR, RL, RR): gain 2x - 1.
constexpr ParameterRule kFeedback{
    [](const Call& p, float x) { p.e.feedback[p.slot].store(feedbackGain(x), kRelaxed); },
    [](const Call& p) { return feedbackNormalised(p.e.feedback[p.slot].load(kRelaxed)); },
    [](const Call& p, char* text) {
        p.fx.formatFloat(p.e.feedback[p.slot].load(kRelaxed), text, 2);
    },
};

constexpr ParameterRule kWarp{
    [](const Call& p, float x) { p.e.warp[p.slot].store(warpValue(x), kRelaxed); },
    [](const Call& p) { return p.e.warp[p.slot].load(kRelaxed); },
    showValue,
};

constexpr ParameterRule kResonance{
    [](const Call& p, float x) { p.e.resonance[p.slot].store(resonanceValue(x), kRelaxed); },
    [](const Call& p) { return resonanceNormalised(p.e.resonance[p.slot].load(kRelaxed)); },
    showField<&EngineState::resonance>,
};

constexpr ParameterRule kCutoff = storedRule<&EngineState::cutoff>(showValue);

// Compressor threshold: gain x^4, shown in dB.
constexpr ParameterRule kThreshold{
    [](const Call& p, float x) {
        p.e.thresholdValue[p.slot].store(x, kRelaxed);
        p.e.threshold[p.slot].store(fourthPower(x), kRelaxed);
    },
    [](const Call& p) { return p.e.thresholdValue[p.slot].load(kRelaxed); },
    [](const Call& p, char* text) { formatDecibel(p.e.threshold[p.slot].load(kRelaxed), text); },
};

// Compressor ratio: read back through the kept curve value, shown as the ratio itself.
constexpr ParameterRule kRatio{
    [](const Call& p, float x) {
        p.e.ratio[p.slot].store(compressorRatio(x), kRelaxed);
        p.e.ratioCurve[p.slot].store(compressorRatioCurve(x), kRelaxed);
    },
    [](const Call& p) { return compressorRatioFromCurve(p.e.ratioCurve[p.slot].load(kRelaxed)); },
    showField<&EngineState::ratio>,
};

constexpr VstInt32 kDecayOf[2] = {kParamLCompDecay, kParamRCompDecay};

// Compressor rate, shown as the time its coefficient takes to fall to a quarter.
constexpr ParameterRule kRate{
    [](const Call& p, float x) {
        p.e.rateValue[p.slot].store(x, kRelaxed);
        p.e.rateCoeff[p.slot].store(compressorRateCoefficient(x), kRelaxed);
        // The decay is a multiple of the rate time: re-apply it with the program's value.
        const VstInt32 decay = kDecayOf[p.slot];
        p.applyParameter(decay, sanitizeNormalised(p.fx.programValue(decay)));
    },
    [](const Call& p) { return p.e.rateValue[p.slot].load(kRelaxed); },
    [](const Call& p, char* text) {
        p.fx.formatDecayTime(text, p.e.rateCoeff[p.slot].load(kRelaxed));
    },
};

constexpr ParameterRule kDecay{
    [](const Call& p, float x) {
        p.e.decayValue[p.slot].store(x, kRelaxed);
        const float rate = p.e.rateValue[p.slot].load(kRelaxed);
        p.e.decayCoeff[p.slot].store(compressorDecayCoefficient(rate, x), kRelaxed);
    },
    [](const Call& p) { return p.e.decayValue[p.slot].load(kRelaxed); },
    [](const Call& p, char* text) {
        p.fx.formatDecayTime(text, p.e.decayCoeff[p.slot].load(kRelaxed));
    },
};

constexpr ParameterRule kSaturate = storedRule<&EngineState::saturation>(showValue);

// Values the filter maps keep themselves (loop window, offset, scan index, analysis).
template <void (kfx::CBitmapArrayAnalyser::*Set)(float),
          float (kfx::CBitmapArrayAnalyser::*Get)() const>
constexpr ParameterRule mapRule(void (*display)(const Call&, char*))
{
    return {
        [](const Call& p, float x) {
            if (auto* m = p.map())
                (m->*Set)(x);
        },
        [](const Call& p) {
            auto* m = p.map();
            return m ? (m->*Get)() : 0.0f;
        },
        display,
    };
}

using Map = kfx::CBitmapArrayAnalyser;
constexpr ParameterRule kLoopStart = mapRule<&Map::setLoopStart, &Map::getLoopStart>(showValue);
constexpr ParameterRule kLoopStop = mapRule<&Map::setLoopStop, &Map::getLoopStop>(showValue);
constexpr ParameterRule kOffsetVert =
    mapRule<&Map::setVerticalOffset, &Map::getVerticalOffset>(nullptr);
constexpr ParameterRule kScanIndex = mapRule<&Map::setScanIndex, &Map::getScanIndex>(showValue);
constexpr ParameterRule kAnalysis = mapRule<&Map::setAnalysis, &Map::getAnalysis>(nullptr);

constexpr ParameterRule kTabFilter = storedRule<&EngineState::tabFilter>(nullptr);

// Filter order 2..80: the band banks follow at once, the lattices at the next block start,
// and the main delays lose the new order's share of their length.
constexpr ParameterRule kFilterOrder{
    [](const Call& p, float x) {
        p.e.orderValue.store(x, kRelaxed);
        const int order = filterOrderFromNormalised(x);
        p.e.order.store(order, kRelaxed);
        const int bands = bandCountForOrder(order);
        for (CSelBand* b : p.e.bands) {
            b->setActiveBands(bands);
            b->resetBands();
        }
        for (int line : {kLineL, kLineR})
            p.setDelayTimeOf(line, p.e.delay[line].userValue.load(kRelaxed));
    },
    [](const Call& p) { return p.e.orderValue.load(kRelaxed); },
    [](const Call& p, char* text) { formatInteger(p.e.order.load(kRelaxed), text); },
};

constexpr ParameterRule kStepTime{
    [](const Call& p, float x) {
        p.e.stepValue.store(x, kRelaxed);
        p.recomputeStepTime();
    },
    [](const Call& p) { return p.e.stepValue.load(kRelaxed); },
    [](const Call& p, char* text) {
        if (p.e.stepUnitsPerBeat.load(kRelaxed) > 0.0)
            formatFixed(p.e.stepUnits.load(kRelaxed), 0, text);
        else
            formatFixed(p.e.stepLength.load(kRelaxed) / skv::kTimeBaseRate, 3, text);
    },
};

constexpr ParameterRule kTimeConstant{
    [](const Call& p, float x) {
        p.e.timeConstant.store(x, kRelaxed);
        const float b = timeConstantSmoothing(x);
        p.e.smoothing.store(b, kRelaxed);  // reaches the lattices at the next block start
        for (CSelBand* band : p.e.bands)
            band->setSmoothing(b);
    },
    [](const Call& p) { return p.e.timeConstant.load(kRelaxed); },
    [](const Call& p, char* text) { p.fx.formatFloat(p.e.timeConstant.load(kRelaxed), text, 3); },
};

constexpr ParameterRule kMix{
    [](const Call& p, float x) { p.e.mix.store(x, kRelaxed); },
    [](const Call& p) { return p.e.mix.load(kRelaxed); },
    showValue,
};

// Volume: gain x^4, shown in dB.
constexpr ParameterRule kVolume{
    [](const Call& p, float x) { p.e.volume.store(fourthPower(x), kRelaxed); },
    [](const Call& p) { return fourthRoot(p.e.volume.load(kRelaxed)); },
    [](const Call& p, char* text) { formatDecibel(p.e.volume.load(kRelaxed), text); },
};

// Sync Delay re-snaps every line from the value its user set.
constexpr ParameterRule kSyncDelay{
    [](const Call& p, float x) {
        p.e.syncDelay.store(x, kRelaxed);
        for (int line = 0; line < kNumLines; ++line)
            p.setDelayTimeOf(line, p.e.delay[line].userValue.load(kRelaxed));
    },
    [](const Call& p) { return p.e.syncDelay.load(kRelaxed); },
    nullptr,
};

constexpr ParameterRule kSyncScan{
    [](const Call& p, float x) {
        p.e.syncScan.store(x, kRelaxed);
        p.recomputeStepTime();
    },
    [](const Call& p) { return p.e.syncScan.load(kRelaxed); },
    nullptr,
};

constexpr ParameterRule kOversample{
    [](const Call& p, float x) { p.e.oversample.store(x, kRelaxed); },
    [](const Call& p) { return p.e.oversample.load(kRelaxed); },
    [](const Call& p, char* text) {
        std::strcpy(text, p.e.oversample.load(kRelaxed) < 0.5f ? "n/a" : "4x");
    },
};

constexpr ParameterRule kEnvelope{
    [](const Call& p, float x) {
        p.e.envelopeValue.store(x, kRelaxed);
        p.e.envelopeCoeff.store(envelopeCoefficient(x), kRelaxed);
    },
    [](const Call& p) { return p.e.envelopeValue.load(kRelaxed); },
    showValue,
};

// The analysis warp lives in the program only; the analysis runs at a fixed warp.
constexpr ParameterRule kAnalysisWarp{
    nullptr,
    [](const Call& p) { return p.fx.programValue(p.index); },
    showValue,
};

// The editor's map selectors and load buttons: tags kept in the program, never read back.
constexpr ParameterRule kProgramOnly{nullptr, nullptr, nullptr};

// ---- the table -------------------------------------------------------------------------------

// Defaults are the float values of the decimal figures below.
constexpr ParameterRow kRows[kNumParams] = {
    {"L PrDel", "seconds", 0.0f, 0, kParamRPreDelay, &kDelay},
    {"R PrDel", "seconds", 0.0f, 1, kParamLPreDelay, &kDelay},
    {"L Delay", "seconds", 0.055f, 2, kParamRDelay, &kDelay},
    {"R Delay", "seconds", 0.205f, 3, kParamLDelay, &kDelay},
    {"L Direction", nullptr, 0.0f, 0, kParamRDirection, &kDirection},
    {"R Direction", nullptr, 0.0f, 1, kParamLDirection, &kDirection},
    {"L->L Feedback", "%", 0.6f, 0, kParamFeedbackRR, &kFeedback},
    {"L->R Feedback", "%", 0.78f, 1, kParamFeedbackRL, &kFeedback},
    {"R->L Feedback", "%", 0.75f, 2, kParamFeedbackLR, &kFeedback},
    {"R->R Feedback", "%", 0.6f, 3, kParamFeedbackLL, &kFeedback},
    {"L Warp  ", "%", 0.75f, 0, kParamRWarp, &kWarp},
    {"R Warp  ", "%", 0.8f, 1, kParamLWarp, &kWarp},
    {"L Resonance", " ", 0.57f, 0, kParamRResonance, &kResonance},
    {"R Resonance", " ", 0.55f, 1, kParamLResonance, &kResonance},
    {"L Cutoff", " ", 0.63f, 0, kParamRCutoff, &kCutoff},
    {"R Cutoff", " ", 0.8f, 1, kParamLCutoff, &kCutoff},
    {"L Comp. Th", nullptr, 0.5f, 0, kParamRCompThreshold, &kThreshold},
    {"L Comp. Ratio", nullptr, 0.1f, 0, kParamRCompRatio, &kRatio},
    {"L Comp. Rate", nullptr, 0.4f, 0, kParamRCompRate, &kRate},
    {"L Comp. Decay", nullptr, 0.4f, 0, kParamRCompDecay, &kDecay},
    {"R Comp. Th", nullptr, 0.5f, 1, kParamLCompThreshold, &kThreshold},
    {"R Comp. Ratio", nullptr, 0.1f, 1, kParamLCompRatio, &kRatio},
    {"R Comp. Rate", nullptr, 0.4f, 1, kParamLCompRate, &kRate},
    {"R Comp. Decay", nullptr, 0.4f, 1, kParamLCompDecay, &kDecay},
    {"L Saturate", " ", 0.05f, 0, kParamRSaturate, &kSaturate},
    {"R Saturate", " ", 0.05f, 1, kParamLSaturate, &kSaturate},
    {"Filter L Select", nullptr, 0.0f, 0, kParamFilterRSelect, &kProgramOnly},
    {"L Start Loop", "%", 0.02f, 0, kParamRStartLoop, &kLoopStart},
    {"L Stop Loop", "%", 0.2f, 0, kParamRStopLoop, &kLoopStop},
    {"L Offset Vert.", "%", 0.02f, 0, kParamROffsetVert, &kOffsetVert},
    {"L Index", "%", 0.0f, 0, kParamRIndex, &kScanIndex},
    {"Filter R Select", nullptr, 0.0f, 1, kParamFilterLSelect, &kProgramOnly},
    {"R Start Loop", "%", 0.1f, 1, kParamLStartLoop, &kLoopStart},
    {"R Stop Loop", "%", 0.2f, 1, kParamLStopLoop, &kLoopStop},
    {"R Offset Vert.", "%", 0.05f, 1, kParamLOffsetVert, &kOffsetVert},
    {"R Index", "%", 0.0f, 1, kParamLIndex, &kScanIndex},
    {"Analysis L", nullptr, 0.0f, 0, kParamAnalysisR, &kAnalysis},
    {"Analysis R", nullptr, 0.0f, 1, kParamAnalysisL, &kAnalysis},
    {"Tab Filter L", nullptr, 0.0f, 0, kParamTabFilterR, &kTabFilter},
    {"Tab Filter R", nullptr, 0.0f, 1, kParamTabFilterL, &kTabFilter},
    {"Filter Order", "taps", 0.2f, 0, -1, &kFilterOrder},
    {"Step Time", "seconds", 0.21f, 0, -1, &kStepTime},
    {"Time Constant", " ", 0.65f, 0, -1, &kTimeConstant},
    {"Mix", "D-W", 0.7f, 0, -1, &kMix},
    {"Volume", "dB", 1.0f, 0, -1, &kVolume},
    {"LoadBitmap L", nullptr, 0.0f, 0, kParamLoadBitmapR, &kProgramOnly},
    {"LoadBitmap R", nullptr, 0.0f, 1, kParamLoadBitmapL, &kProgramOnly},
    {"Sync Delay", nullptr, 0.0f, 0, -1, &kSyncDelay},
    {"Sync Scan", nullptr, 0.0f, 0, -1, &kSyncScan},
    {"Oversample", nullptr, 0.6f, 0, -1, &kOversample},
    {"Env. Follow Dcy", nullptr, 0.74f, 0, -1, &kEnvelope},
    {"L Analysis Warp", "%", 0.6f, 0, kParamRAnalysisWarp, &kAnalysisWarp},
    {"R Analysis Warp", "%", 0.6f, 1, kParamLAnalysisWarp, &kAnalysisWarp},
};

// Every row is filled, and twins point at each other with the same rule on different slots:
// a row added out of place fails here, at compile time.
constexpr bool rowsAreConsistent()
{
    for (int i = 0; i < kNumParams; ++i) {
        const ParameterRow& r = kRows[i];
        if (r.name == nullptr || r.rule == nullptr)
            return false;
        if (r.twin < 0)
            continue;
        const ParameterRow& t = kRows[r.twin];
        if (t.twin != i || t.rule != r.rule || t.slot == r.slot)
            return false;
    }
    return true;
}
static_assert(rowsAreConsistent(), "parameter rows and their twins disagree");

bool inTable(int index)
{
    return index >= 0 && index < kNumParams;
}

bool isViewSwitch(VstInt32 index)
{
    return index == kParamLViewSwitch || index == kParamRViewSwitch;
}

}  // namespace

// ---- names, labels and defaults (any thread; the table is constant) -------------------------

namespace skv {

const char* parameterName(int index)
{
    return inTable(index) ? kRows[index].name : kUnspecifiedName;
}

const char* parameterLabel(int index)
{
    return inTable(index) ? kRows[index].label : nullptr;
}

float parameterDefault(int index)
{
    return inTable(index) ? kRows[index].defaultValue : 0.0f;
}

int parameterIndexOf(const char* name)
{
    if (name == nullptr)
        return -1;
    for (int i = 0; i < kNumParams; ++i)
        if (std::strcmp(kRows[i].name, name) == 0)
            return i;
    return -1;
}

}  // namespace skv

// ---- rules that touch several engine values ------------------------------------------------

void fxSkorvaline::setDelayTime(int line, float x)
{
    EngineState& e = engine;
    const DelayTime t = computeDelayTime(x, e.syncDelay.load(kRelaxed), e.order.load(kRelaxed),
                                         currentSamplesPerBeat());
    DelayRecord& r = e.delay[line];
    r.userValue.store(x, kRelaxed);
    r.publish(t);
    // The audio thread hands the new length to the line at its next block start.
    r.serial.fetch_add(1, std::memory_order_release);
    setProgramValue(kParamLPreDelay + line, t.normalised);
}

void fxSkorvaline::recomputeStepTime()
{
    EngineState& e = engine;
    const StepTime t = computeStepTime(e.stepValue.load(kRelaxed), e.syncScan.load(kRelaxed),
                                       currentSamplesPerBeat());
    e.stepLength.store(t.length, kRelaxed);
    e.stepUnits.store(t.units, kRelaxed);
    e.stepUnitsPerBeat.store(t.unitsPerBeat, kRelaxed);
    e.stepSerial.fetch_add(1, std::memory_order_release);
}

// ---- the host's parameter calls ------------------------------------------------------------

void fxSkorvaline::setParameter(VstInt32 index, float value)
{
    // Hosts and MIDI stay within 0..1; anything else (NaN included) is held there so that no
    // engine value can run away.
    const float x = sanitizeNormalised(value);
    if (isViewSwitch(index)) {
        viewSwitch[index - kParamLViewSwitch] = x;
        return;
    }
    if (!inTable(index))
        return;
    setProgramValue(index, x);
    applyParameter(index, x);
    if (editor)
        editor->postUpdate();
}

void fxSkorvaline::applyParameter(VstInt32 index, float x)
{
    if (!inTable(index))
        return;
    const ParameterRow& row = kRows[index];
    if (row.rule->apply)
        row.rule->apply(ParameterCall{*this, engine, index, row.slot}, x);
}

float fxSkorvaline::getParameter(VstInt32 index)
{
    // Conversions back from the engine value can land a rounding step outside 0..1 (the ratio
    // curve's inverse gives 1.00000012 for 1); hosts get normalised values only.
    return sanitizeNormalised(readParameter(index));
}

float fxSkorvaline::readParameter(VstInt32 index)
{
    if (isViewSwitch(index))
        return viewSwitch[index - kParamLViewSwitch];
    if (!inTable(index))
        return 0.0f;
    const ParameterRow& row = kRows[index];
    if (!row.rule->read)
        return 0.0f;
    return row.rule->read(ParameterCall{*this, engine, index, row.slot});
}

void fxSkorvaline::getParameterName(VstInt32 index, char* text)
{
    // Names are the keys of stored presets: written whole (at most 15 characters).
    std::strcpy(text, parameterName(index));
}

void fxSkorvaline::getParameterLabel(VstInt32 index, char* label)
{
    if (const char* l = parameterLabel(index))
        std::strcpy(label, l);
}

void fxSkorvaline::getParameterDisplay(VstInt32 index, char* text)
{
    // No display text (view switches, indices beyond the table, tags): the host's buffer stays
    // as it was.
    if (!inTable(index))
        return;
    const ParameterRow& row = kRows[index];
    if (row.rule->display)
        row.rule->display(ParameterCall{*this, engine, index, row.slot}, text);
}

void fxSkorvaline::formatFloat(float value, char* text, int decimals)
{
    formatFixed(value, decimals, text);
}

void fxSkorvaline::formatDecayTime(char* text, float coefficient)
{
    formatDecay(coefficient, text);
}
