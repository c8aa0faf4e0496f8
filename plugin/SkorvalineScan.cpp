// The scan: at every step each channel takes a new column of filter targets, from its filter
// map (advancing the map's scan index through the loop window), from an analysis of its own
// delay line, or, for the right channel in slave mode, from the left. The column maths (the
// seeded stand-in column and the conditioning of map columns) sits here beside it. The scan
// step runs on the audio thread.
#include "plugin/ScanColumn.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "dsp/Delay.h"
#include "dsp/SelBand.h"
#include "dsp/UnitWIIRLattice.h"
#include "dsp/WarpedLPCExtraction.h"
#include "filtermap/BitmapArrayAnalyser.h"
#include "plugin/EngineConfig.h"
#include "plugin/ParameterTable.h"
#include "plugin/Skorvaline.h"

using namespace skv;
namespace eng = skv::engine;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr float kTabAnalysisThreshold = 0.5f;    // left: map below, analysis above
constexpr float kTabRightMap = 0.33333334f;      // right: map below
constexpr float kTabRightAnalysis = 0.6666667f;  // right: analysis below, slave above
constexpr float kConditionThreshold = 0.5f;      // map columns are conditioned below this

}  // namespace

// ---- column maths ----------------------------------------------------------------------------

namespace skv {

void fillSeededColumn(float* column, int count, unsigned seed)
{
    std::uint32_t state = seed;
    auto next = [&state]() {
        state = state * 214013u + 2531011u;
        return static_cast<int>((state >> 16) & 0x7FFFu);
    };
    for (int i = 0; i < count; ++i) {
        const int r1 = next();
        const int r2 = next();
        const int r3 = next();
        column[i] = static_cast<float>(0.9 * (r1 % 10000 * 0.0002 - 1.0) *
                                       (r2 % 10000 * 0.0002 - 1.0) * (r3 % 10000 * 0.0002 - 1.0));
    }
}

void conditionColumn(float* column, int order, int count)
{
    if (order > count)
        order = count;
    if (order > 1) {
        float sum = 0.0f;
        for (int i = 1; i < order; ++i)
            sum += column[i];
        const float half = 0.5f * (sum / static_cast<float>(order - 1));
        for (int i = 0; i < order; ++i)
            column[i] -= half;
    }
    float largest = 0.0f;
    for (int i = 0; i < order; ++i)
        largest = std::max(largest, std::fabs(column[i]));
    const float divisor = largest == 0.0f ? 1.0f : largest;
    for (int i = 0; i < order; ++i)
        column[i] /= divisor;
    // The lattice ignores targets of magnitude 1 or more and floors tiny ones; the marker
    // replaces both with an alternating value too small to matter.
    float marker = 1e-15f;
    for (int i = 0; i < count; ++i) {
        const float magnitude = std::fabs(column[i]);
        if (magnitude >= 1.0f || magnitude <= std::fabs(marker)) {
            column[i] = marker;
            marker = -marker;
        }
    }
}

}  // namespace skv

// ---- scan step -----------------------------------------------------------------------------

void fxSkorvaline::scanFilterMap(float* column, int stepCounter, int count,
                                 kfx::CBitmapArrayAnalyser* map)
{
    count = std::clamp(count, 0, eng::kColumnCapacity);
    // Validity and width as the map's value array has them: the picture holder itself may be
    // replaced by the editor's thread at this very moment, so it is not read from here.
    if (!map || !map->hasArray()) {
        fillSeededColumn(column, count, static_cast<unsigned>(stepCounter));
        return;
    }
    const float loopLength =
        (map->getLoopStop() - map->getLoopStart()) * static_cast<float>(map->getArrayWidth());
    float index = map->getScanIndex();
    // An empty or undefined loop window holds the index where it is instead of pushing it to
    // infinity; a reversed window scans backwards and wraps at both ends.
    if (loopLength != 0.0f && std::isfinite(loopLength)) {
        index += 1.0f / loopLength;
        if (index > 1.0f)
            index -= 1.0f;
        if (index < 0.0f)
            index += 1.0f;
        map->setScanIndex(index);
    }
    // The previous column stays (already conditioned) when the map is being replaced just now.
    if (map->tryGetColumn(column, count) && map->getAnalysis() < kConditionThreshold)
        conditionColumn(column, engine.order.load(kRelaxed), count);
    // The map holds the index (getParameter reads it there); the program takes it when it is
    // saved or left, so the audio thread writes nothing the other thread copies.
    engineMovedParameter(map->getName() == "L" ? kParamLIndex : kParamRIndex, map->getScanIndex());
}

void fxSkorvaline::analyseDelayLine(int line, float* column)
{
    EngineState& e = engine;
    const Delay<float>& d = *e.lines[line];
    float* frame = e.analysisFrame;
    float s = 0.0f;
    for (int k = 0; k < eng::kAnalysisLength; ++k) {
        const float x = k < d.length ? d.buffer[(d.writeIndex + k) & d.mask] : 0.0f;
        s = eng::kPreEmphasisNew * x + eng::kPreEmphasisOld * s;
        frame[k] = x - s;
    }
    e.lpc->extract(frame, column, e.order.load(kRelaxed), eng::kAnalysisWarp);
}

void fxSkorvaline::scanStep()
{
    EngineState& e = engine;
    const float tabL = e.tabFilter[0].load(kRelaxed);
    const float tabR = e.tabFilter[1].load(kRelaxed);
    if (tabL < kTabAnalysisThreshold)
        scanFilterMap(e.columnL, e.scanCounter, eng::kColumnSize, e.map(0));
    else
        analyseDelayLine(kLineL, e.columnL);
    if (tabR < kTabRightMap)
        scanFilterMap(e.columnR, e.scanCounter, eng::kColumnSize, e.map(1));
    else if (tabR < kTabRightAnalysis)
        analyseDelayLine(kLineR, e.columnR);
    else
        std::memcpy(e.columnR, e.columnL, sizeof(float) * eng::kColumnSize);

    const int order = e.order.load(kRelaxed);
    e.lattice[0]->setTargetCoefficients(e.columnL, eng::kColumnSize);
    e.lattice[0]->setOrder(order);
    e.lattice[1]->setTargetCoefficients(e.columnR, eng::kColumnSize);
    e.lattice[1]->setOrder(order);
    e.bands[0]->setFromColumn(e.columnL);
    e.bands[1]->setFromColumn(e.columnR);
}
