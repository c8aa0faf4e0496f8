// The parameter table as the host sees it: setParameter stores the normalised value in the
// current program, converts it into the engine value and marks the editor; getParameter
// answers from the engine values (converted back); names, labels and display texts.
// setParameter runs on any thread (automation, programs, the editor, MIDI); the engine values
// it writes are relaxed atomics, and whatever a unit must take over is posted to the audio
// thread, which applies it at its next block start.
#include "plugin/Skorvaline.h"

#include <cmath>
#include <cstring>
#include <mutex>

#include "dsp/Delay.h"
#include "dsp/SelBand.h"
#include "dsp/UnitWIIRLattice.h"
#include "filtermap/BitmapArrayAnalyser.h"
#include "plugin/EngineConfig.h"
#include "plugin/ParameterTable.h"
#include "vst/AEffEditor.h"

using namespace skv;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

int channelOf(VstInt32 index, VstInt32 left)
{
    return index == left ? 0 : 1;
}

}  // namespace

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

// ---- setParameter ----------------------------------------------------------------------------

void fxSkorvaline::setParameter(VstInt32 index, float value)
{
    // Hosts and MIDI stay within 0..1; anything else (NaN included) is held there so that no
    // engine value can run away.
    const float x = sanitizeNormalised(value);
    if (index == kParamLViewSwitch || index == kParamRViewSwitch) {
        viewSwitch[index - kParamLViewSwitch] = x;
        return;
    }
    if (index < 0 || index >= kNumParams)
        return;
    setProgramValue(index, x);
    applyParameter(index, x);
    if (editor)
        editor->postUpdate();
}

void fxSkorvaline::applyParameter(VstInt32 index, float x)
{
    EngineState& e = engine;
    switch (index) {
    case kParamLPreDelay:
    case kParamRPreDelay:
    case kParamLDelay:
    case kParamRDelay:
        setDelayTime(index - kParamLPreDelay, x);
        break;
    case kParamLDirection:
    case kParamRDirection:
        e.direction[channelOf(index, kParamLDirection)].store(x, kRelaxed);
        break;
    case kParamFeedbackLL:
    case kParamFeedbackLR:
    case kParamFeedbackRL:
    case kParamFeedbackRR:
        e.feedback[index - kParamFeedbackLL].store(feedbackGain(x), kRelaxed);
        break;
    case kParamLWarp:
    case kParamRWarp:
        e.warp[channelOf(index, kParamLWarp)].store(warpValue(x), kRelaxed);
        break;
    case kParamLResonance:
    case kParamRResonance:
        e.resonance[channelOf(index, kParamLResonance)].store(resonanceValue(x), kRelaxed);
        break;
    case kParamLCutoff:
    case kParamRCutoff:
        e.cutoff[channelOf(index, kParamLCutoff)].store(x, kRelaxed);
        break;
    case kParamLCompThreshold:
    case kParamRCompThreshold: {
        const int c = channelOf(index, kParamLCompThreshold);
        e.thresholdValue[c].store(x, kRelaxed);
        e.threshold[c].store(fourthPower(x), kRelaxed);
        break;
    }
    case kParamLCompRatio:
    case kParamRCompRatio: {
        const int c = channelOf(index, kParamLCompRatio);
        e.ratio[c].store(compressorRatio(x), kRelaxed);
        e.ratioCurve[c].store(compressorRatioCurve(x), kRelaxed);
        break;
    }
    case kParamLCompRate:
    case kParamRCompRate: {
        const int c = channelOf(index, kParamLCompRate);
        e.rateValue[c].store(x, kRelaxed);
        e.rateCoeff[c].store(compressorRateCoefficient(x), kRelaxed);
        // The decay is a multiple of the rate time: re-apply it with the program's value.
        const VstInt32 decayIndex = index + 1;
        applyParameter(decayIndex, sanitizeNormalised(programValue(decayIndex)));
        break;
    }
    case kParamLCompDecay:
    case kParamRCompDecay: {
        const int c = channelOf(index, kParamLCompDecay);
        e.decayValue[c].store(x, kRelaxed);
        e.decayCoeff[c].store(compressorDecayCoefficient(e.rateValue[c].load(kRelaxed), x),
                              kRelaxed);
        break;
    }
    case kParamLSaturate:
    case kParamRSaturate:
        e.saturation[channelOf(index, kParamLSaturate)].store(x, kRelaxed);
        break;
    case kParamLStartLoop:
    case kParamRStartLoop:
        if (auto* m = e.map(channelOf(index, kParamLStartLoop)))
            m->setLoopStart(x);
        break;
    case kParamLStopLoop:
    case kParamRStopLoop:
        if (auto* m = e.map(channelOf(index, kParamLStopLoop)))
            m->setLoopStop(x);
        break;
    case kParamLOffsetVert:
    case kParamROffsetVert:
        if (auto* m = e.map(channelOf(index, kParamLOffsetVert)))
            m->setVerticalOffset(x);
        break;
    case kParamLIndex:
    case kParamRIndex:
        if (auto* m = e.map(channelOf(index, kParamLIndex)))
            m->setScanIndex(x);
        break;
    case kParamAnalysisL:
    case kParamAnalysisR:
        if (auto* m = e.map(channelOf(index, kParamAnalysisL)))
            m->setAnalysis(x);
        break;
    case kParamTabFilterL:
    case kParamTabFilterR:
        e.tabFilter[channelOf(index, kParamTabFilterL)].store(x, kRelaxed);
        break;
    case kParamFilterOrder: {
        e.orderValue.store(x, kRelaxed);
        const int order = filterOrderFromNormalised(x);
        // The lattices take the new order at the audio thread's next block start.
        e.order.store(order, kRelaxed);
        const int bands = bandCountForOrder(order);
        for (CSelBand* b : e.bands) {
            b->setActiveBands(bands);
            b->resetBands();
        }
        setDelayTime(kLineL, e.delay[kLineL].userValue.load(kRelaxed));
        setDelayTime(kLineR, e.delay[kLineR].userValue.load(kRelaxed));
        break;
    }
    case kParamStepTime:
        e.stepValue.store(x, kRelaxed);
        recomputeStepTime();
        break;
    case kParamTimeConstant: {
        e.timeConstant.store(x, kRelaxed);
        const float b = timeConstantSmoothing(x);
        e.smoothing.store(b, kRelaxed);  // reaches the lattices at the next block start
        for (CSelBand* band : e.bands)
            band->setSmoothing(b);
        break;
    }
    case kParamMix:
        e.mix.store(x, kRelaxed);
        break;
    case kParamVolume:
        e.volume.store(fourthPower(x), kRelaxed);
        break;
    case kParamSyncDelay:
        e.syncDelay.store(x, kRelaxed);
        for (int line = 0; line < kNumLines; ++line)
            setDelayTime(line, e.delay[line].userValue.load(kRelaxed));
        break;
    case kParamSyncScan:
        e.syncScan.store(x, kRelaxed);
        recomputeStepTime();
        break;
    case kParamOversample:
        e.oversample.store(x, kRelaxed);
        break;
    case kParamEnvFollowDecay:
        e.envelopeValue.store(x, kRelaxed);
        e.envelopeCoeff.store(envelopeCoefficient(x), kRelaxed);
        break;
    default:  // 26, 31, 45, 46, 51, 52: kept in the program only
        break;
    }
}

// ---- getParameter ------------------------------------------------------------------------------

float fxSkorvaline::getParameter(VstInt32 index)
{
    // Conversions back from the engine value can land a rounding step outside 0..1 (the ratio
    // curve's inverse gives 1.00000012 for 1); hosts get normalised values only.
    return sanitizeNormalised(readParameter(index));
}

float fxSkorvaline::readParameter(VstInt32 index)
{
    const EngineState& e = engine;
    if (index == kParamLViewSwitch || index == kParamRViewSwitch)
        return viewSwitch[index - kParamLViewSwitch];
    switch (index) {
    case kParamLPreDelay:
    case kParamRPreDelay:
    case kParamLDelay:
    case kParamRDelay:
        return e.delay[index - kParamLPreDelay].value.load(kRelaxed);
    case kParamLDirection:
    case kParamRDirection:
        return e.direction[channelOf(index, kParamLDirection)].load(kRelaxed);
    case kParamFeedbackLL:
    case kParamFeedbackLR:
    case kParamFeedbackRL:
    case kParamFeedbackRR:
        return feedbackNormalised(e.feedback[index - kParamFeedbackLL].load(kRelaxed));
    case kParamLWarp:
    case kParamRWarp:
        return e.warp[channelOf(index, kParamLWarp)].load(kRelaxed);
    case kParamLResonance:
    case kParamRResonance:
        return resonanceNormalised(e.resonance[channelOf(index, kParamLResonance)].load(kRelaxed));
    case kParamLCutoff:
    case kParamRCutoff:
        return e.cutoff[channelOf(index, kParamLCutoff)].load(kRelaxed);
    case kParamLCompThreshold:
    case kParamRCompThreshold:
        return e.thresholdValue[channelOf(index, kParamLCompThreshold)].load(kRelaxed);
    case kParamLCompRatio:
    case kParamRCompRatio:
        return compressorRatioFromCurve(
            e.ratioCurve[channelOf(index, kParamLCompRatio)].load(kRelaxed));
    case kParamLCompRate:
    case kParamRCompRate:
        return e.rateValue[channelOf(index, kParamLCompRate)].load(kRelaxed);
    case kParamLCompDecay:
    case kParamRCompDecay:
        return e.decayValue[channelOf(index, kParamLCompDecay)].load(kRelaxed);
    case kParamLSaturate:
    case kParamRSaturate:
        return e.saturation[channelOf(index, kParamLSaturate)].load(kRelaxed);
    case kParamLStartLoop:
    case kParamRStartLoop: {
        auto* m = e.map(channelOf(index, kParamLStartLoop));
        return m ? m->getLoopStart() : 0.0f;
    }
    case kParamLStopLoop:
    case kParamRStopLoop: {
        auto* m = e.map(channelOf(index, kParamLStopLoop));
        return m ? m->getLoopStop() : 0.0f;
    }
    case kParamLOffsetVert:
    case kParamROffsetVert: {
        auto* m = e.map(channelOf(index, kParamLOffsetVert));
        return m ? m->getVerticalOffset() : 0.0f;
    }
    case kParamLIndex:
    case kParamRIndex: {
        auto* m = e.map(channelOf(index, kParamLIndex));
        return m ? m->getScanIndex() : 0.0f;
    }
    case kParamAnalysisL:
    case kParamAnalysisR: {
        auto* m = e.map(channelOf(index, kParamAnalysisL));
        return m ? m->getAnalysis() : 0.0f;
    }
    case kParamTabFilterL:
    case kParamTabFilterR:
        return e.tabFilter[channelOf(index, kParamTabFilterL)].load(kRelaxed);
    case kParamFilterOrder:
        return e.orderValue.load(kRelaxed);
    case kParamStepTime:
        return e.stepValue.load(kRelaxed);
    case kParamTimeConstant:
        return e.timeConstant.load(kRelaxed);
    case kParamMix:
        return e.mix.load(kRelaxed);
    case kParamVolume:
        return fourthRoot(e.volume.load(kRelaxed));
    case kParamSyncDelay:
        return e.syncDelay.load(kRelaxed);
    case kParamSyncScan:
        return e.syncScan.load(kRelaxed);
    case kParamOversample:
        return e.oversample.load(kRelaxed);
    case kParamEnvFollowDecay:
        return e.envelopeValue.load(kRelaxed);
    case kParamLAnalysisWarp:
    case kParamRAnalysisWarp:
        return programValue(index);
    default:  // 26, 31, 45, 46 and anything beyond the table
        return 0.0f;
    }
}

// ---- texts -------------------------------------------------------------------------------------

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

void fxSkorvaline::formatFloat(float value, char* text, int decimals)
{
    formatFixed(value, decimals, text);
}

void fxSkorvaline::formatDecayTime(char* text, float coefficient)
{
    formatDecay(coefficient, text);
}

void fxSkorvaline::getParameterDisplay(VstInt32 index, char* text)
{
    const EngineState& e = engine;
    switch (index) {
    case kParamLPreDelay:
    case kParamRPreDelay:
    case kParamLDelay:
    case kParamRDelay: {
        const DelayRecord& r = e.delay[index - kParamLPreDelay];
        const float length = r.length.load(kRelaxed);
        const bool pre = index <= kParamRPreDelay;
        if (pre && length == 0.0f) {
            std::strcpy(text, "off");
        }
        else if (r.synced.load(kRelaxed)) {
            formatFixed(r.units.load(kRelaxed), 0, text);
        }
        else {
            const double samples = pre ? length : double(length) + e.order.load(kRelaxed);
            formatFixed(samples / skv::kTimeBaseRate, 3, text);
        }
        return;
    }
    case kParamLDirection:
    case kParamRDirection:
        std::strcpy(text, getParameter(index) < 0.5f ? "fwrd" : "bkwrd");
        return;
    case kParamFeedbackLL:
    case kParamFeedbackLR:
    case kParamFeedbackRL:
    case kParamFeedbackRR:
        formatFloat(e.feedback[index - kParamFeedbackLL].load(kRelaxed), text, 2);
        return;
    case kParamLResonance:
    case kParamRResonance:
        formatFloat(e.resonance[channelOf(index, kParamLResonance)].load(kRelaxed), text, 2);
        return;
    case kParamLCompThreshold:
    case kParamRCompThreshold:
        formatDecibel(e.threshold[channelOf(index, kParamLCompThreshold)].load(kRelaxed), text);
        return;
    case kParamLCompRatio:
    case kParamRCompRatio:
        formatFloat(e.ratio[channelOf(index, kParamLCompRatio)].load(kRelaxed), text, 2);
        return;
    case kParamLCompRate:
    case kParamRCompRate:
        formatDecayTime(text, e.rateCoeff[channelOf(index, kParamLCompRate)].load(kRelaxed));
        return;
    case kParamLCompDecay:
    case kParamRCompDecay:
        formatDecayTime(text, e.decayCoeff[channelOf(index, kParamLCompDecay)].load(kRelaxed));
        return;
    case kParamLWarp:
    case kParamRWarp:
    case kParamLCutoff:
    case kParamRCutoff:
    case kParamLSaturate:
    case kParamRSaturate:
    case kParamLStartLoop:
    case kParamLStopLoop:
    case kParamLIndex:
    case kParamRStartLoop:
    case kParamRStopLoop:
    case kParamRIndex:
    case kParamMix:
    case kParamEnvFollowDecay:
    case kParamLAnalysisWarp:
    case kParamRAnalysisWarp:
        formatFloat(getParameter(index), text, 2);
        return;
    case kParamFilterOrder:
        formatInteger(e.order.load(kRelaxed), text);
        return;
    case kParamStepTime:
        if (e.stepUnitsPerBeat.load(kRelaxed) > 0.0)
            formatFixed(e.stepUnits.load(kRelaxed), 0, text);
        else
            formatFixed(e.stepLength.load(kRelaxed) / skv::kTimeBaseRate, 3, text);
        return;
    case kParamTimeConstant:
        formatFloat(e.timeConstant.load(kRelaxed), text, 3);
        return;
    case kParamVolume:
        formatDecibel(e.volume.load(kRelaxed), text);
        return;
    case kParamOversample:
        std::strcpy(text, e.oversample.load(kRelaxed) < 0.5f ? "n/a" : "4x");
        return;
    default:  // no display text: the host's buffer stays as it was
        return;
    }
}
