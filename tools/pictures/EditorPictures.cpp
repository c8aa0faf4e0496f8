// The editor's pictures: window background (10056), filter-map menu face (10060), load
// button (10057, two frames), analysis-mode button (10058, three frames) and the about
// picture (10059). They use the panel colours (amber, teal, sky, greys) on a dark slate
// ground and avoid pure white, which the editor treats as transparent.
#include "tools/pictures/Picture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace skvpic {

namespace {

struct Rgb {
    int r, g, b;
};
constexpr Rgb kAmber{228, 189, 31};
constexpr Rgb kTeal{22, 112, 150};
constexpr Rgb kSky{75, 183, 228};
constexpr Rgb kMid{128, 128, 128};
constexpr Rgb kLight{192, 192, 192};
constexpr Rgb kSlate{26, 31, 38};
constexpr Rgb kInk{12, 15, 19};

std::uint32_t pack(Rgb c)
{
    auto clamp = [](int v) { return std::uint32_t(std::min(255, std::max(0, v))); };
    return (clamp(c.r) << 16) | (clamp(c.g) << 8) | clamp(c.b);
}

Rgb mix(Rgb a, Rgb b, double t)
{
    return {int(std::lround(a.r + (b.r - a.r) * t)), int(std::lround(a.g + (b.g - a.g) * t)),
            int(std::lround(a.b + (b.b - a.b) * t))};
}

Rgb unpack(std::uint32_t p) { return {int((p >> 16) & 255), int((p >> 8) & 255), int(p & 255)}; }

void fill(CPicture& p, int l, int t, int r, int b, Rgb c)
{
    for (int y = std::max(0, t); y < std::min(p.height, b); ++y)
        for (int x = std::max(0, l); x < std::min(p.width, r); ++x)
            p.at(x, y) = pack(c);
}

void blend(CPicture& p, int x, int y, Rgb c, double alpha)
{
    if (x < 0 || y < 0 || x >= p.width || y >= p.height)
        return;
    p.at(x, y) = pack(mix(unpack(p.at(x, y)), c, alpha));
}

// A filled rounded rectangle with a soft (coverage-sampled) edge.
void roundRect(CPicture& p, int l, int t, int r, int b, double radius, Rgb c)
{
    for (int y = t; y < b; ++y)
        for (int x = l; x < r; ++x) {
            int inside = 0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx) {
                    double px = x + (sx + 0.5) / 4, py = y + (sy + 0.5) / 4;
                    double cx = std::clamp(px, l + radius, r - radius), cy = std::clamp(py, t + radius, b - radius);
                    if ((px - cx) * (px - cx) + (py - cy) * (py - cy) <= radius * radius)
                        ++inside;
                }
            if (inside)
                blend(p, x, y, c, inside / 16.0);
        }
}

// 5 x 7 capitals, digits and a few signs, one row per byte (bit 4 = leftmost column).
struct Glyph {
    char c;
    std::uint8_t rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'A', {14, 17, 17, 31, 17, 17, 17}}, {'B', {30, 17, 17, 30, 17, 17, 30}}, {'C', {14, 17, 16, 16, 16, 17, 14}},
    {'D', {30, 17, 17, 17, 17, 17, 30}}, {'E', {31, 16, 16, 30, 16, 16, 31}}, {'F', {31, 16, 16, 30, 16, 16, 16}},
    {'G', {14, 17, 16, 23, 17, 17, 15}}, {'H', {17, 17, 17, 31, 17, 17, 17}}, {'I', {14, 4, 4, 4, 4, 4, 14}},
    {'K', {17, 18, 20, 24, 20, 18, 17}}, {'L', {16, 16, 16, 16, 16, 16, 31}}, {'M', {17, 27, 21, 21, 17, 17, 17}},
    {'N', {17, 17, 25, 21, 19, 17, 17}}, {'O', {14, 17, 17, 17, 17, 17, 14}}, {'P', {30, 17, 17, 30, 16, 16, 16}},
    {'R', {30, 17, 17, 30, 20, 18, 17}}, {'S', {15, 16, 16, 14, 1, 1, 30}},  {'T', {31, 4, 4, 4, 4, 4, 4}},
    {'U', {17, 17, 17, 17, 17, 17, 14}}, {'V', {17, 17, 17, 17, 17, 10, 4}}, {'W', {17, 17, 17, 21, 21, 21, 10}},
    {'X', {17, 17, 10, 4, 10, 17, 17}},  {'Y', {17, 17, 10, 4, 4, 4, 4}},    {'0', {14, 17, 19, 21, 25, 17, 14}},
    {'1', {4, 12, 4, 4, 4, 4, 14}},      {'2', {14, 17, 1, 2, 4, 8, 31}},     {'.', {0, 0, 0, 0, 0, 12, 12}},
    {'-', {0, 0, 0, 31, 0, 0, 0}},       {' ', {0, 0, 0, 0, 0, 0, 0}},
};

const Glyph* glyph(char c)
{
    for (const Glyph& g : kGlyphs)
        if (g.c == c)
            return &g;
    return nullptr;
}

int textWidth(const char* s, int scale, int spacing) { return int(std::strlen(s)) * (5 * scale + spacing) - spacing; }

void text(CPicture& p, int x, int y, const char* s, int scale, int spacing, Rgb c, double alpha = 1.0)
{
    for (; *s; ++s, x += 5 * scale + spacing) {
        const Glyph* g = glyph(*s);
        if (!g)
            continue;
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (g->rows[row] & (16 >> col))
                    for (int dy = 0; dy < scale; ++dy)
                        for (int dx = 0; dx < scale; ++dx)
                            blend(p, x + col * scale + dx, y + row * scale + dy, c, alpha);
    }
}

void textCentred(CPicture& p, int cx, int y, const char* s, int scale, int spacing, Rgb c, double alpha = 1.0)
{
    text(p, cx - textWidth(s, scale, spacing) / 2, y, s, scale, spacing, c, alpha);
}

// A short damped echo train: the product's idea in one line.
void echoes(CPicture& p, int l, int r, int mid, int amplitude, Rgb c)
{
    for (int x = l; x < r; ++x) {
        double t = double(x - l) / double(r - l);
        double env = std::exp(-3.0 * std::fmod(t * 4.0, 1.0)) * (1.0 - 0.6 * t);
        double y = mid - amplitude * env * std::sin(t * 2.0 * 3.14159265 * 24.0);
        int yi = int(std::lround(y));
        blend(p, x, yi, c, 0.9);
        blend(p, x, yi + 1, c, 0.35);
    }
}

CPicture drawBackground()
{
    CPicture p(788, 390, 24);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            double t = double(y) / p.height;
            Rgb c = mix(kSlate, kInk, t);
            // A faint teal glow from the upper right, and fine scan lines.
            double dx = (x - 690) / 320.0, dy = (y - 20) / 260.0;
            double glow = std::exp(-(dx * dx + dy * dy)) * 0.22;
            c = mix(c, kTeal, glow);
            if (y % 3 == 0)
                c = mix(c, kInk, 0.25);
            p.at(x, y) = pack(c);
        }
    // Product name in the splash click area (598, 7, 753, 40).
    textCentred(p, 676, 9, "SKORVALINE", 3, 1, kInk, 0.6);
    textCentred(p, 675, 8, "SKORVALINE", 3, 1, kAmber);
    for (int x = 600; x < 752; ++x)
        blend(p, x, 31, kTeal, 0.9);
    textCentred(p, 675, 33, "FILTER MAP DELAY", 1, 1, kSky, 0.9);
    // Thin rails beside the panels.
    for (int y = 12; y < 378; ++y)
        blend(p, 4, y, kTeal, 0.5);
    for (int y = 296; y < 384; ++y)
        blend(p, 580, y, kMid, 0.25);
    return p;
}

CPicture drawMenuFace()
{
    CPicture p(15, 16, 24);
    fill(p, 0, 0, 15, 16, kSlate);
    roundRect(p, 0, 0, 15, 16, 3.0, kTeal);
    roundRect(p, 1, 1, 14, 15, 2.5, mix(kTeal, kSky, 0.35));
    for (int row = 0; row < 4; ++row)
        for (int x = 3 + row; x <= 11 - row; ++x)
            p.at(x, 6 + row) = pack(kAmber);
    return p;
}

// The load button: an arrow into a tray; the pressed frame is lit and shifted down by one.
CPicture drawLoadButton()
{
    CPicture p(15, 32, 24);
    fill(p, 0, 0, 15, 32, kSlate);
    for (int frame = 0; frame < 2; ++frame) {
        const int top = frame * 16, shift = frame;
        roundRect(p, 0, top, 15, top + 16, 3.0, frame ? kAmber : kTeal);
        Rgb ink = frame ? kInk : kAmber;
        for (int y = 3; y < 9; ++y)
            p.at(7, top + y + shift) = pack(ink);
        for (int k = 1; k < 4; ++k) {
            p.at(7 - k, top + 8 - k + shift) = pack(ink);
            p.at(7 + k, top + 8 - k + shift) = pack(ink);
        }
        for (int x = 3; x < 12; ++x)
            p.at(x, top + 12 + std::min(shift, 1) - 1) = pack(ink);
        p.at(3, top + 10) = pack(ink);
        p.at(11, top + 10) = pack(ink);
    }
    return p;
}

// Analysis mode: one, two or three lit bars.
CPicture drawAnalysisButton()
{
    CPicture p(15, 48, 24);
    fill(p, 0, 0, 15, 48, kSlate);
    for (int frame = 0; frame < 3; ++frame) {
        const int top = frame * 16;
        roundRect(p, 0, top, 15, top + 16, 3.0, kTeal);
        for (int bar = 0; bar < 3; ++bar) {
            Rgb c = bar <= frame ? kAmber : mix(kTeal, kInk, 0.4);
            int x = 3 + bar * 3, h = 4 + bar * 2;
            fill(p, x, top + 12 - h, x + 2, top + 12, c);
        }
    }
    return p;
}

CPicture drawAbout()
{
    CPicture p(189, 98, 24);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            p.at(x, y) = pack(mix(kSlate, kInk, 0.5 + 0.5 * y / p.height));
    roundRect(p, 0, 0, 189, 98, 10.0, kLight);
    roundRect(p, 2, 2, 187, 96, 8.0, mix(kSlate, kInk, 0.3));
    textCentred(p, 95, 12, "SKORVALINE", 2, 2, kAmber);
    echoes(p, 14, 175, 46, 12, kSky);
    textCentred(p, 95, 64, "STEREO FILTER MAP DELAY", 1, 1, kLight);
    textCentred(p, 95, 78, "VERSION 1.0", 1, 1, kMid);
    return p;
}

} // namespace

SKV_REGISTER_PICTURE(10056, "editor-background", drawBackground);
SKV_REGISTER_PICTURE(10057, "load-button", drawLoadButton);
SKV_REGISTER_PICTURE(10058, "analysis-button", drawAnalysisButton);
SKV_REGISTER_PICTURE(10059, "about", drawAbout);
SKV_REGISTER_PICTURE(10060, "menu-face", drawMenuFace);

} // namespace skvpic
