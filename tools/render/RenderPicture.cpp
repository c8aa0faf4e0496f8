// Drawing the --png picture with cairo: colour scales, waveform lanes, spectrograms, the
// time axis, the settings list and the filter maps, written out as PNG bytes.
#include "RenderPicture.h"

#include "RenderError.h"
#include "Spectrum.h"

#include <algorithm>
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <cmath>
#include <cstdio>

namespace render {

namespace {

struct CRgb {
    double r, g, b;
};

// The colour at t in 0..1 on a scale of evenly spaced stops, linear between neighbours.
template <size_t N>
CRgb colourScale(const CRgb (&stops)[N], double t)
{
    static_assert(N >= 2, "a scale needs two ends");
    t = std::clamp(t, 0.0, 1.0) * (N - 1);
    const size_t i = std::min(static_cast<size_t>(t), N - 2);
    const double f = t - static_cast<double>(i);
    return {stops[i].r + (stops[i + 1].r - stops[i].r) * f,
            stops[i].g + (stops[i + 1].g - stops[i].g) * f,
            stops[i].b + (stops[i + 1].b - stops[i].b) * f};
}

// Perceptually ordered dark-to-bright palette (black, purple, red, orange, pale yellow).
CRgb heatColour(double t)
{
    static const CRgb stops[] = {
        {0.000, 0.000, 0.016}, {0.106, 0.047, 0.255}, {0.290, 0.047, 0.420},
        {0.471, 0.110, 0.427}, {0.647, 0.173, 0.376}, {0.812, 0.267, 0.275},
        {0.929, 0.412, 0.145}, {0.984, 0.608, 0.024}, {0.988, 1.000, 0.643},
    };
    return colourScale(stops, t);
}

// Filter-map values run from -1 to +1: cool for negative, dark at 0, warm for positive, in
// the colours of the left and right waveforms.
CRgb mapColour(double t)
{
    static const CRgb stops[] = {
        {0.55, 0.88, 1.00}, {0.20, 0.55, 0.85}, {0.09, 0.10, 0.14},
        {0.85, 0.45, 0.18}, {1.00, 0.85, 0.55},
    };
    return colourScale(stops, t);
}

// A pixel of cairo's ARGB32 image data: native-endian words, opaque alpha in the top byte.
uint32_t packRgb(const CRgb& c)
{
    auto byte = [](double v) {
        return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
    };
    return 0xFF000000u | byte(c.r) << 16 | byte(c.g) << 8 | byte(c.b);
}

// Picture geometry and palette, in one place.
constexpr int kWidth = 1600;
constexpr double kMargin = 28.0;
constexpr double kGap = 56.0;
constexpr double kAxisLeft = 46.0;    // room for frequency labels
constexpr double kBarReserve = 52.0;  // room for the dB colour bar on the right
constexpr double kWaveHeight = 170.0;
constexpr double kSpecHeight = 300.0;
constexpr double kMapHeight = 190.0;
constexpr double kDbFloor = -100.0;  // bottom of the colour scale
constexpr double kMinHz = 30.0;
constexpr CRgb kBackground{0.075, 0.082, 0.102};
constexpr CRgb kPanel{0.035, 0.039, 0.051};
constexpr CRgb kText{0.86, 0.87, 0.90};
constexpr CRgb kDim{0.55, 0.57, 0.62};
constexpr CRgb kGrid{0.20, 0.22, 0.27};
constexpr CRgb kWaveL{0.36, 0.78, 0.93};
constexpr CRgb kWaveR{0.98, 0.62, 0.35};

void setColour(cairo_t* cr, const CRgb& c, double alpha = 1.0)
{
    cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

// Selects the picture's font at `size` and returns the advance width of `s` in it.
double textWidth(cairo_t* cr, const std::string& s, double size, bool bold)
{
    cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, s.c_str(), &e);
    return e.x_advance;
}

// `align` 0 puts the text's left end at x, 0.5 its middle, 1 its right end.
void text(cairo_t* cr, double x, double y, const std::string& s, double size, bool bold = false,
          const CRgb& colour = kText, double align = 0.0)
{
    const double width = textWidth(cr, s, size, bold);
    setColour(cr, colour);
    cairo_move_to(cr, x - align * width, y);
    cairo_show_text(cr, s.c_str());
}

// A dashed line where the input ended, over the waveform and the spectrogram of the output.
void drawTailMarker(cairo_t* cr, double x, double top, double bottom)
{
    // A one-pixel line centred on a pixel column covers exactly that column instead of
    // smearing half-bright over two.
    const double px = std::floor(x) + 0.5;
    const double dash[] = {4.0, 4.0};
    cairo_save(cr);
    cairo_set_dash(cr, dash, 2, 0.0);
    cairo_set_line_width(cr, 1.0);
    setColour(cr, kText, 0.55);
    cairo_move_to(cr, px, top);
    cairo_line_to(cr, px, bottom);
    cairo_stroke(cr);
    cairo_restore(cr);
}

std::string formatSeconds(double t, double step)
{
    char buffer[32];
    if (step < 1.0)
        std::snprintf(buffer, sizeof buffer, "%.1f", t);
    else if (t >= 60.0)
        std::snprintf(buffer, sizeof buffer, "%d:%02d", static_cast<int>(t) / 60,
                      static_cast<int>(t) % 60);
    else
        std::snprintf(buffer, sizeof buffer, "%.0f", t);
    return buffer;
}

// The smallest round step that leaves at least 70 pixels between labels, so that "1:30"
// style labels never collide.
double tickStep(double seconds, double width)
{
    for (double step :
         {0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0, 120.0, 300.0, 600.0, 1800.0})
        if (width * step / seconds >= 70.0)
            return step;
    return 3600.0;
}

// Min/max envelope of one channel, one pixel column at a time, in a lane of the panel.
void drawWaveLane(cairo_t* cr, const std::vector<float>& samples, size_t spanFrames, double x,
                  double y, double w, double h, const CRgb& colour)
{
    const double mid = y + h / 2.0;
    setColour(cr, kGrid);
    cairo_set_line_width(cr, 1.0);
    cairo_move_to(cr, x, std::floor(mid) + 0.5);
    cairo_line_to(cr, x + w, std::floor(mid) + 0.5);
    cairo_stroke(cr);
    const int columns = static_cast<int>(w);
    for (int c = 0; c < columns; ++c) {
        size_t a = static_cast<size_t>(static_cast<double>(c) * spanFrames / columns);
        size_t b = static_cast<size_t>(static_cast<double>(c + 1) * spanFrames / columns);
        if (a >= samples.size())
            break;
        b = std::max(a + 1, std::min(b, samples.size()));
        float lo = 0.0f, hi = 0.0f;
        double energy = 0.0;
        for (size_t i = a; i < b; ++i) {
            float v = std::isfinite(samples[i]) ? samples[i] : 0.0f;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            energy += static_cast<double>(v) * v;
        }
        // Two layers per column: the faint min/max span shows peaks, the solid RMS bar the
        // loudness a listener hears; echoes show as repeated RMS shapes.
        const double rms = std::sqrt(energy / static_cast<double>(b - a));
        const double half = h / 2.0 - 2.0;
        const double px = x + c + 0.5;
        setColour(cr, colour, 0.45);
        cairo_move_to(cr, px, mid - std::clamp<double>(hi, -1.0, 1.0) * half);
        cairo_line_to(cr, px, mid - std::clamp<double>(lo, -1.0, 1.0) * half + 0.5);
        cairo_stroke(cr);
        setColour(cr, colour, 0.95);
        cairo_move_to(cr, px, mid - std::min(rms, 1.0) * half);
        cairo_line_to(cr, px, mid + std::min(rms, 1.0) * half + 0.5);
        cairo_stroke(cr);
    }
}

void drawWaveform(cairo_t* cr, const CAudioBuffer& audio, size_t spanFrames, double x, double y,
                  double w, double h)
{
    setColour(cr, kPanel);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
    const double lane = h / 2.0;
    drawWaveLane(cr, audio.channels[0], spanFrames, x, y, w, lane, kWaveL);
    drawWaveLane(cr, audio.channels[1], spanFrames, x, y + lane, w, lane, kWaveR);
    text(cr, x + 6, y + 15, "L", 11, true, kWaveL);
    text(cr, x + 6, y + lane + 15, "R", 11, true, kWaveR);
}

// Logarithmic axis from kMinHz at the bottom row to maxHz at the top: octaves get equal
// height, as the ear hears them.
double rowToHz(double row, double h, double maxHz)
{
    return kMinHz * std::pow(maxHz / kMinHz, 1.0 - row / h);
}

void drawSpectrogram(cairo_t* cr, const CAudioBuffer& audio, size_t spanFrames, double x, double y,
                     double w, double h)
{
    const int columns = static_cast<int>(w);
    const int rows = static_cast<int>(h);
    // One spectrogram of the mid signal: the channels of a delay differ mostly in timing,
    // which a spectrum of each would show twice.
    std::vector<float> mono(audio.frames());
    for (size_t i = 0; i < mono.size(); ++i) {
        float v = 0.5f * (audio.channels[0][i] + audio.channels[1][i]);
        mono[i] = std::isfinite(v) ? v : 0.0f;
    }
    const CSpectrogram spectrogram =
        computeSpectrogram(mono, audio.sampleRate, spanFrames, columns);
    const double maxHz = std::min(20000.0, audio.sampleRate / 2.0);

    // Filled pixel by pixel in memory and painted once: a cairo rectangle per pixel would be
    // far slower.
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, columns, rows);
    cairo_surface_flush(image);
    unsigned char* data = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    for (int r = 0; r < rows; ++r) {
        const double hz = rowToHz(r + 0.5, h, maxHz);
        const double hzHigh = rowToHz(r, h, maxHz);
        const double hzLow = rowToHz(r + 1.0, h, maxHz);
        auto* line = reinterpret_cast<uint32_t*>(data + static_cast<ptrdiff_t>(r) * stride);
        for (int c = 0; c < columns; ++c) {
            const double db = spectrogram.levelAt(c, hzLow, hz, hzHigh);
            line[c] = packRgb(heatColour((db - kDbFloor) / -kDbFloor));
        }
    }
    cairo_surface_mark_dirty(image);
    cairo_set_source_surface(cr, image, x, y);
    cairo_paint(cr);
    cairo_surface_destroy(image);

    // Frequency grid and labels on the left.
    cairo_set_line_width(cr, 1.0);
    for (double hz : {50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 20000.0}) {
        if (hz > maxHz)
            break;
        const double row = h * (1.0 - std::log(hz / kMinHz) / std::log(maxHz / kMinHz));
        const double py = std::floor(y + row) + 0.5;
        setColour(cr, kText, 0.13);
        cairo_move_to(cr, x, py);
        cairo_line_to(cr, x + w, py);
        cairo_stroke(cr);
        char label[16];
        if (hz >= 1000.0)
            std::snprintf(label, sizeof label, "%gk", hz / 1000.0);
        else
            std::snprintf(label, sizeof label, "%g", hz);
        text(cr, x - 6, py + 4, label, 10.5, false, kDim, 1.0);
    }
    text(cr, x - 6, y + h + 4, "Hz", 10.5, false, kDim, 1.0);
}

void drawTimeAxis(cairo_t* cr, double seconds, double x, double y, double w)
{
    const double step = tickStep(seconds, w);
    cairo_set_line_width(cr, 1.0);
    for (double t = 0.0; t <= seconds + 1e-9; t += step) {
        const double px = std::floor(x + w * t / seconds) + 0.5;
        setColour(cr, kDim);
        cairo_move_to(cr, px, y);
        cairo_line_to(cr, px, y + 5);
        cairo_stroke(cr);
        text(cr, px, y + 18, formatSeconds(t, step), 10.5, false, kDim, 0.5);
    }
    text(cr, x + w, y + 32, "seconds", 10.5, false, kDim, 1.0);
}

void drawColourBar(cairo_t* cr, double x, double y, double h)
{
    const double w = 12.0;
    for (int r = 0; r < static_cast<int>(h); ++r) {
        setColour(cr, heatColour(1.0 - r / h));
        cairo_rectangle(cr, x, y + r, w, 1.0);
        cairo_fill(cr);
    }
    for (double db = 0.0; db >= kDbFloor; db -= 20.0) {
        const double py = y + h * db / kDbFloor;
        char label[16];
        std::snprintf(label, sizeof label, "%.0f", db);
        text(cr, x + w + 5, py + 4, label, 10.5, false, kDim);
    }
    text(cr, x + w + 5, y + h + 18, "dBFS", 10.5, false, kDim);
}

void drawFilterMap(cairo_t* cr, const CFilterMapPicture& map, const std::string& label, double x,
                   double y, double w, double h)
{
    text(cr, x, y - 8, label, 13, true);
    setColour(cr, kPanel);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
    if (map.width <= 0 || map.height <= 0) {
        text(cr, x + w / 2, y + h / 2 + 5, "not in the plug-in's state", 12, false, kDim, 0.5);
        return;
    }
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, map.width, map.height);
    cairo_surface_flush(image);
    unsigned char* data = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    for (int r = 0; r < map.height; ++r) {
        auto* line = reinterpret_cast<uint32_t*>(data + static_cast<ptrdiff_t>(r) * stride);
        for (int c = 0; c < map.width; ++c)
            line[c] =
                packRgb(mapColour(map.samples[static_cast<size_t>(r) * map.width + c] / 255.0));
    }
    cairo_surface_mark_dirty(image);
    // Keep the map's shape; centre it in the box.
    const double scale = std::min(w / map.width, h / map.height);
    const double dw = map.width * scale, dh = map.height * scale;
    cairo_save(cr);
    cairo_translate(cr, x + (w - dw) / 2.0, y + (h - dh) / 2.0);
    cairo_scale(cr, scale, scale);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr),
                             scale >= 2.0 ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
    cairo_rectangle(cr, 0, 0, map.width, map.height);
    cairo_fill(cr);
    cairo_restore(cr);
    cairo_surface_destroy(image);
    // Size and depth, then a small legend of the value scale, right-aligned over the box.
    const double legendWidth = 70.0;
    const double legendX = x + w - legendWidth - 18.0;
    text(cr, legendX - 8, y - 8, "-1", 11, false, kDim, 1.0);
    for (int i = 0; i < static_cast<int>(legendWidth); ++i) {
        setColour(cr, mapColour(i / (legendWidth - 1.0)));
        cairo_rectangle(cr, legendX + i, y - 17, 1.0, 9.0);
        cairo_fill(cr);
    }
    text(cr, x + w, y - 8, "+1", 11, false, kDim, 1.0);
    char size[64];
    std::snprintf(size, sizeof size, "%d \xC3\x97 %d, %d bit", map.width, map.height,
                  map.bitsPerPixel);
    text(cr, legendX - 30, y - 8, size, 11, false, kDim, 1.0);
}

cairo_status_t appendToString(void* closure, const unsigned char* data, unsigned int length)
{
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

std::string drawPicturePng(const CPictureContent& content)
{
    const CAudioBuffer& in = *content.input;
    const CAudioBuffer& out = *content.output;
    const size_t span = std::max({in.frames(), out.frames(), size_t(1)});
    const double seconds = static_cast<double>(span) / out.sampleRate;

    const double headerHeight = 96.0;
    const double panelTop = kMargin + headerHeight;
    const double columnWidth = (kWidth - 2 * kMargin - kGap - kBarReserve) / 2.0;
    const double plotWidth = std::floor(columnWidth - kAxisLeft);
    const double specTop = panelTop + 24 + kWaveHeight + 10;
    const double axisTop = specTop + kSpecHeight;
    const double mapTop = axisTop + 70;
    const int height = static_cast<int>(content.showMaps ? mapTop + 24 + kMapHeight + kMargin
                                                         : axisTop + 40 + kMargin);

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, height);
    cairo_t* cr = cairo_create(surface);
    setColour(cr, kBackground);
    cairo_paint(cr);

    text(cr, kMargin, kMargin + 22, content.title, 24, true);
    // Settings wrap onto a second line when they do not fit.
    double sx = kMargin, sy = kMargin + 50;
    for (const auto& [name, value] : content.settings) {
        const double nameWidth = textWidth(cr, name + " ", 13.5, false);
        const double valueWidth = textWidth(cr, value, 13.5, true);
        if (sx + nameWidth + valueWidth > kWidth - kMargin && sx > kMargin) {
            sx = kMargin;
            sy += 21;
        }
        text(cr, sx, sy, name + " ", 13.5, false, kDim);
        text(cr, sx + nameWidth, sy, value, 13.5, true, kText);
        sx += nameWidth + valueWidth + 24;
    }

    const CAudioBuffer* sides[2] = {&in, &out};
    const std::string* labels[2] = {&content.inputLabel, &content.outputLabel};
    for (int side = 0; side < 2; ++side) {
        const double x0 = kMargin + side * (columnWidth + kGap) + kAxisLeft;
        text(cr, x0, panelTop + 14, *labels[side], 15, true);
        drawWaveform(cr, *sides[side], span, x0, panelTop + 24, plotWidth, kWaveHeight);
        drawSpectrogram(cr, *sides[side], span, x0, specTop, plotWidth, kSpecHeight);
        drawTimeAxis(cr, seconds, x0, axisTop, plotWidth);
        if (side == 1 && content.tailStart > 0 && content.tailStart < span) {
            const double px = x0 + plotWidth * static_cast<double>(content.tailStart) / span;
            drawTailMarker(cr, px, panelTop + 24, specTop + kSpecHeight);
            text(cr, px + 6, panelTop + 24 + 15, "tail", 11.5, false, kText);
        }
    }
    drawColourBar(cr, kMargin + 2 * columnWidth + kGap + 12, specTop, kSpecHeight);

    if (content.showMaps) {
        const double mapWidth = std::floor(columnWidth - kAxisLeft);
        drawFilterMap(cr, content.mapLeft, content.mapLeftLabel, kMargin + kAxisLeft, mapTop + 24,
                      mapWidth, kMapHeight);
        drawFilterMap(cr, content.mapRight, content.mapRightLabel,
                      kMargin + columnWidth + kGap + kAxisLeft, mapTop + 24, mapWidth, kMapHeight);
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);

    std::string png;
    const cairo_status_t status = cairo_surface_write_to_png_stream(surface, appendToString, &png);
    cairo_surface_destroy(surface);
    // No cairo object is left: empty cairo's font caches and then fontconfig's, which leak
    // checkers would otherwise report as lost at exit. Drawing happens once per run.
    cairo_debug_reset_static_data();
    FcFini();
    if (status != CAIRO_STATUS_SUCCESS)
        throw CRenderError(std::string("cannot draw the picture (") +
                           cairo_status_to_string(status) + ")");
    return png;
}

}  // namespace render
