// The editor's pictures: window background (10056), filter-map menu face (10060), load
// button (10057, two frames), analysis-mode button (10058, three frames) and the about
// picture (10059). They use the panel colours (amber, teal, sky, greys): brushed grey metal
// around the panels, slate plates for the lettering, and no pure white, which the toolkit
// treats as transparent. The logotype is drawn from strokes with analytic edge coverage;
// small print uses a 5 x 7 pixel font.
#include "tools/pictures/Picture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

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
constexpr Rgb kSlate{30, 36, 44};
constexpr Rgb kInk{11, 14, 18};
constexpr Rgb kDeepTeal{12, 74, 102};
constexpr double kPi = 3.14159265358979323846;

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

Rgb unpack(std::uint32_t p)
{
    return {int((p >> 16) & 255), int((p >> 8) & 255), int(p & 255)};
}

void fill(CPicture& p, int l, int t, int r, int b, Rgb c)
{
    for (int y = std::max(0, t); y < std::min(p.height, b); ++y)
        for (int x = std::max(0, l); x < std::min(p.width, r); ++x)
            p.at(x, y) = pack(c);
}

void blend(CPicture& p, int x, int y, Rgb c, double alpha)
{
    if (x < 0 || y < 0 || x >= p.width || y >= p.height || alpha <= 0.0)
        return;
    p.at(x, y) = pack(mix(unpack(p.at(x, y)), c, std::min(1.0, alpha)));
}

// Fraction of a pixel inside a rounded rectangle (4 x 4 samples).
double roundRectCoverage(double px, double py, double l, double t, double r, double b,
                         double radius)
{
    int inside = 0;
    for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) {
            const double x = px + (sx + 0.5) / 4, y = py + (sy + 0.5) / 4;
            if (x < l || x > r || y < t || y > b)
                continue;
            const double cx = std::clamp(x, l + radius, r - radius),
                         cy = std::clamp(y, t + radius, b - radius);
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius)
                ++inside;
        }
    return inside / 16.0;
}

// A rounded rectangle whose colour runs from top to bottom.
void roundRectGradient(CPicture& p, double l, double t, double r, double b, double radius, Rgb top,
                       Rgb bottom)
{
    for (int y = int(std::floor(t)); y < int(std::ceil(b)); ++y) {
        const Rgb c = mix(top, bottom, (y - t) / std::max(1.0, b - t - 1));
        for (int x = int(std::floor(l)); x < int(std::ceil(r)); ++x)
            blend(p, x, y, c, roundRectCoverage(x, y, l, t, r, b, radius));
    }
}

void roundRect(CPicture& p, double l, double t, double r, double b, double radius, Rgb c)
{
    roundRectGradient(p, l, t, r, b, radius, c, c);
}

// ---- Stroke lettering -------------------------------------------------------------------
// Glyphs on a cap height of 10 units, y downwards, as polylines; round parts are sampled
// arcs (angle counted anticlockwise from the right, as on paper).

struct Pt {
    double x, y;
};
using Polyline = std::vector<Pt>;

struct StrokeGlyph {
    double width = 0;
    std::vector<Polyline> strokes;
};

void arc(Polyline& line, double cx, double cy, double rx, double ry, double fromDeg, double toDeg)
{
    const int n = std::max(4, int(std::abs(toDeg - fromDeg) / 7.5));
    for (int i = 0; i <= n; ++i) {
        const double a = (fromDeg + (toDeg - fromDeg) * i / n) * kPi / 180.0;
        line.push_back({cx + rx * std::cos(a), cy - ry * std::sin(a)});
    }
}

StrokeGlyph strokeGlyph(char c)
{
    StrokeGlyph g;
    auto line = [&](std::initializer_list<Pt> pts) { g.strokes.emplace_back(pts); };
    switch (c) {
    case 'A':
        g.width = 6.6;
        line({{0, 10}, {3.3, 0}, {6.6, 10}});
        line({{1.2, 6.6}, {5.4, 6.6}});
        break;
    case 'C': {
        g.width = 6;
        Polyline l;
        arc(l, 3.3, 5, 3.3, 5, 48, 312);
        g.strokes.push_back(l);
        break;
    }
    case 'D': {
        g.width = 6.2;
        Polyline l{{1.6, 10}, {0, 10}, {0, 0}, {1.6, 0}};
        arc(l, 1.6, 5, 4.6, 5, 90, -90);
        g.strokes.push_back(l);
        break;
    }
    case 'E':
        g.width = 5.2;
        line({{5.2, 0}, {0, 0}, {0, 10}, {5.2, 10}});
        line({{0, 5}, {4.4, 5}});
        break;
    case 'F':
        g.width = 5.2;
        line({{5.2, 0}, {0, 0}, {0, 10}});
        line({{0, 5}, {4.4, 5}});
        break;
    case 'G': {
        g.width = 6.6;
        Polyline l;
        arc(l, 3.3, 5, 3.3, 5, 45, 360);
        l.push_back({3.6, 5});
        g.strokes.push_back(l);
        break;
    }
    case 'H':
        g.width = 6;
        line({{0, 0}, {0, 10}});
        line({{6, 0}, {6, 10}});
        line({{0, 5}, {6, 5}});
        break;
    case 'I':
        g.width = 0;
        line({{0, 0}, {0, 10}});
        break;
    case 'K':
        g.width = 5.8;
        line({{0, 0}, {0, 10}});
        line({{5.6, 0}, {0, 6.2}});
        line({{2.0, 4.0}, {5.8, 10}});
        break;
    case 'L':
        g.width = 5;
        line({{0, 0}, {0, 10}, {5, 10}});
        break;
    case 'M':
        g.width = 7.4;
        line({{0, 10}, {0, 0}, {3.7, 7.2}, {7.4, 0}, {7.4, 10}});
        break;
    case 'N':
        g.width = 6;
        line({{0, 10}, {0, 0}, {6, 10}, {6, 0}});
        break;
    case 'O': {
        g.width = 7;
        Polyline l;
        arc(l, 3.5, 5, 3.5, 5, 0, 360);
        g.strokes.push_back(l);
        break;
    }
    case 'P': {
        g.width = 5.8;
        Polyline l{{0, 10}, {0, 0}, {3.0, 0}};
        arc(l, 3.0, 2.8, 2.8, 2.8, 90, -90);
        l.push_back({0, 5.6});
        g.strokes.push_back(l);
        break;
    }
    case 'R': {
        g.width = 6;
        Polyline l{{0, 10}, {0, 0}, {3.0, 0}};
        arc(l, 3.0, 2.8, 2.8, 2.8, 90, -90);
        l.push_back({0, 5.6});
        g.strokes.push_back(l);
        line({{2.8, 5.6}, {6, 10}});
        break;
    }
    case 'S': {
        // Two bowls meeting in the middle: the upper one from its right shoulder round the
        // left to the centre, the lower one on from there round the right to its left foot.
        g.width = 6;
        Polyline l;
        arc(l, 3, 2.5, 3, 2.5, 28, 270);
        arc(l, 3, 7.5, 3, 2.5, 90, -152);
        g.strokes.push_back(l);
        break;
    }
    case 'T':
        g.width = 6;
        line({{0, 0}, {6, 0}});
        line({{3, 0}, {3, 10}});
        break;
    case 'V':
        g.width = 6.4;
        line({{0, 0}, {3.2, 10}, {6.4, 0}});
        break;
    case 'Y':
        g.width = 6.4;
        line({{0, 0}, {3.2, 5.2}, {6.4, 0}});
        line({{3.2, 5.2}, {3.2, 10}});
        break;
    case ' ':
        g.width = 3;
        break;
    default:
        break;
    }
    return g;
}

double strokeTextWidth(const char* s, double tracking)
{
    double w = 0;
    for (const char* c = s; *c; ++c)
        w += strokeGlyph(*c).width + (c[1] ? tracking : 0.0);
    return w;
}

double segmentDistance(Pt p, Pt a, Pt b)
{
    const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
    const double t =
        len2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / len2, 0.0, 1.0) : 0.0;
    const double ex = a.x + t * dx - p.x, ey = a.y + t * dy - p.y;
    return std::sqrt(ex * ex + ey * ey);
}

// Draws s with its top-left corner at (x, y) in pixels, scale pixels per unit, strokes of
// the given thickness (pixels); the edge coverage is the distance to the stroke's edge,
// clamped to one pixel, which smooths the edges without blurring the strokes.
void strokeText(CPicture& p, double x, double y, const char* s, double scale, double tracking,
                double thickness, Rgb colour, double alpha = 1.0)
{
    std::vector<std::pair<Pt, Pt>> segments;
    double pen = x;
    for (const char* c = s; *c; ++c) {
        const StrokeGlyph g = strokeGlyph(*c);
        for (const Polyline& l : g.strokes) {
            if (l.size() == 1)
                segments.push_back({{pen + l[0].x * scale, y + l[0].y * scale},
                                    {pen + l[0].x * scale, y + l[0].y * scale}});
            for (std::size_t i = 1; i < l.size(); ++i)
                segments.push_back({{pen + l[i - 1].x * scale, y + l[i - 1].y * scale},
                                    {pen + l[i].x * scale, y + l[i].y * scale}});
        }
        pen += (g.width + tracking) * scale;
    }
    const int margin = int(std::ceil(thickness)) + 1;
    const int x0 = int(std::floor(x)) - margin, x1 = int(std::ceil(pen)) + margin;
    const int y0 = int(std::floor(y)) - margin, y1 = int(std::ceil(y + 10 * scale)) + margin;
    for (int py = y0; py <= y1; ++py)
        for (int px = x0; px <= x1; ++px) {
            double d = 1e9;
            for (const auto& sgm : segments)
                d = std::min(d, segmentDistance({px + 0.5, py + 0.5}, sgm.first, sgm.second));
            const double coverage = std::clamp(thickness / 2 - d + 0.5, 0.0, 1.0);
            blend(p, px, py, colour, coverage * alpha);
        }
}

void strokeTextCentred(CPicture& p, double cx, double y, const char* s, double scale,
                       double tracking, double thickness, Rgb colour, double alpha = 1.0)
{
    strokeText(p, cx - strokeTextWidth(s, tracking) * scale / 2, y, s, scale, tracking, thickness,
               colour, alpha);
}

// ---- Pixel font for small print ---------------------------------------------------------
// 5 x 7 capitals, digits and a few signs, one row per byte (bit 4 = leftmost column).
struct PixelGlyph {
    char c;
    std::uint8_t rows[7];
};
constexpr PixelGlyph kPixelGlyphs[] = {
    {'A', {14, 17, 17, 31, 17, 17, 17}}, {'B', {30, 17, 17, 30, 17, 17, 30}},
    {'C', {14, 17, 16, 16, 16, 17, 14}}, {'D', {30, 17, 17, 17, 17, 17, 30}},
    {'E', {31, 16, 16, 30, 16, 16, 31}}, {'F', {31, 16, 16, 30, 16, 16, 16}},
    {'G', {14, 17, 16, 23, 17, 17, 15}}, {'H', {17, 17, 17, 31, 17, 17, 17}},
    {'I', {14, 4, 4, 4, 4, 4, 14}},      {'K', {17, 18, 20, 24, 20, 18, 17}},
    {'L', {16, 16, 16, 16, 16, 16, 31}}, {'M', {17, 27, 21, 21, 17, 17, 17}},
    {'N', {17, 17, 25, 21, 19, 17, 17}}, {'O', {14, 17, 17, 17, 17, 17, 14}},
    {'P', {30, 17, 17, 30, 16, 16, 16}}, {'R', {30, 17, 17, 30, 20, 18, 17}},
    {'S', {15, 16, 16, 14, 1, 1, 30}},   {'T', {31, 4, 4, 4, 4, 4, 4}},
    {'U', {17, 17, 17, 17, 17, 17, 14}}, {'V', {17, 17, 17, 17, 17, 10, 4}},
    {'W', {17, 17, 17, 21, 21, 21, 10}}, {'X', {17, 17, 10, 4, 10, 17, 17}},
    {'Y', {17, 17, 10, 4, 4, 4, 4}},     {'0', {14, 17, 19, 21, 25, 17, 14}},
    {'1', {4, 12, 4, 4, 4, 4, 14}},      {'2', {14, 17, 1, 2, 4, 8, 31}},
    {'.', {0, 0, 0, 0, 0, 12, 12}},      {'-', {0, 0, 0, 31, 0, 0, 0}},
    {'/', {1, 1, 2, 4, 8, 16, 16}},      {' ', {0, 0, 0, 0, 0, 0, 0}},
};

const PixelGlyph* pixelGlyph(char c)
{
    for (const PixelGlyph& g : kPixelGlyphs)
        if (g.c == c)
            return &g;
    return nullptr;
}

int pixelTextWidth(const char* s, int spacing)
{
    return int(std::strlen(s)) * (5 + spacing) - spacing;
}

void pixelText(CPicture& p, int x, int y, const char* s, int spacing, Rgb c, double alpha = 1.0)
{
    for (; *s; ++s, x += 5 + spacing) {
        const PixelGlyph* g = pixelGlyph(*s);
        if (!g)
            continue;
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (g->rows[row] & (16 >> col))
                    blend(p, x + col, y + row, c, alpha);
    }
}

void pixelTextCentred(CPicture& p, int cx, int y, const char* s, int spacing, Rgb c,
                      double alpha = 1.0)
{
    pixelText(p, cx - pixelTextWidth(s, spacing) / 2, y, s, spacing, c, alpha);
}

// ---- Pictures ---------------------------------------------------------------------------

// Brushed metal of mid grey (128): the panels' corner colour is that grey, so the ground
// must stay close to it for the rounded corners to vanish into it. Streaks run along x: a
// per-row tone, slow variation along the row, and fine grain.
Rgb ground(int x, int y)
{
    auto unit = [](std::uint32_t h) { return (h & 0xFFFF) / 65535.0 - 0.5; };
    const double row = unit(hash3(0, y, 561)) * 3.0;
    const int cell = x / 23;
    const double t = (x % 23) / 23.0, smooth = t * t * (3 - 2 * t);
    const double slow = (unit(hash3(cell, y / 2, 562)) * (1 - smooth) +
                         unit(hash3(cell + 1, y / 2, 562)) * smooth) *
                        2.5;
    const double grain = unit(hash3(x, y, 563)) * 2.0;
    const int v = 128 + int(std::lround(row + slow + grain));
    return {v, v, v + 1};
}

// A plate of slate set into the metal: dark body, a shadowed upper rim, a lit lower rim.
void badge(CPicture& p, double l, double t, double r, double b, double radius)
{
    roundRect(p, l, t, r, b, radius, {84, 84, 86});             // shadow rim
    roundRect(p, l, t + 1, r, b + 1, radius, {168, 168, 170});  // light catching the lower edge
    roundRect(p, l, t + 1, r, b, radius, {62, 64, 68});
    roundRectGradient(p, l + 1, t + 2, r - 1, b - 1, radius - 1, mix(kSlate, kDeepTeal, 0.35),
                      mix(kSlate, kInk, 0.55));
}

// A slotted screw head of radius 3 centred in pixel (cx, cy).
void screw(CPicture& p, int cx, int cy, double angleDeg)
{
    for (int y = cy - 4; y <= cy + 4; ++y)
        for (int x = cx - 4; x <= cx + 4; ++x) {
            const double dx = x + 0.5 - (cx + 0.5), dy = y + 0.5 - (cy + 0.5),
                         d = std::sqrt(dx * dx + dy * dy);
            blend(p, x, y, {70, 70, 72}, std::clamp(3.9 - d, 0.0, 1.0) * 0.6);  // recess
            const double cover = std::clamp(3.2 - d, 0.0, 1.0);
            const Rgb face =
                mix({196, 196, 198}, {104, 104, 106}, std::clamp((dx + dy) / 6.0 + 0.5, 0.0, 1.0));
            blend(p, x, y, face, cover);
            const double a = angleDeg * kPi / 180.0;
            const double along = std::abs(dx * std::sin(a) - dy * std::cos(a));
            if (d < 2.6)
                blend(p, x, y, {60, 60, 62}, std::clamp(1.0 - along, 0.0, 1.0) * 0.9);
        }
}

// A decaying echo train: the product's idea in one line.
void echoes(CPicture& p, double l, double r, double mid, double amplitude, int bursts, Rgb c)
{
    const double thickness = 1.3;
    auto curve = [&](double xx) {
        const double t = (xx - l) / (r - l);
        const double phase = std::fmod(t * bursts, 1.0);
        const double env = std::exp(-4.0 * phase) * std::pow(0.62, std::floor(t * bursts));
        return mid - amplitude * env * std::sin(t * 2.0 * kPi * bursts * 6.0);
    };
    for (int x = int(l); x < int(r); ++x)
        for (int y = int(mid - amplitude - 2); y <= int(mid + amplitude + 2); ++y) {
            // Distance to the curve, estimated from its value and slope at this column.
            const double xc = x + 0.5, yc = y + 0.5;
            const double v = curve(xc), slope = (curve(xc + 0.25) - curve(xc - 0.25)) / 0.5;
            const double d = std::abs(yc - v) / std::sqrt(1 + slope * slope);
            blend(p, x, y, c, std::clamp(thickness / 2 - d + 0.5, 0.0, 1.0) * 0.95);
        }
}

CPicture drawBackground()
{
    CPicture p(788, 390, 24);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            p.at(x, y) = pack(ground(x, y));
    // Product name on a badge inside the splash click area (598, 7, 753, 40); the global
    // panel starts at y = 40.
    badge(p, 594, 3, 758, 38, 6);
    const double scale = 1.55, tracking = 2.5, thickness = 2.4;
    strokeTextCentred(p, 676.5, 8.0, "SKORVALINE", scale, tracking, thickness + 1.6, kInk, 0.5);
    strokeTextCentred(p, 676.0, 7.0, "SKORVALINE", scale, tracking, thickness, kAmber);
    pixelTextCentred(p, 676, 27, "FILTER MAP DELAY", 1, kSky, 0.9);
    // An engraved groove between the two channel panels.
    for (int x = 16; x < 560; ++x) {
        const double fade = std::min(1.0, std::min(x - 16, 560 - x) / 30.0);
        blend(p, x, 194, {88, 88, 90}, 0.8 * fade);
        blend(p, x, 195, {170, 170, 172}, 0.6 * fade);
    }
    screw(p, 4, 4, 35);
    screw(p, 4, 385, 110);
    screw(p, 783, 4, 70);
    screw(p, 783, 385, 15);
    return p;
}

// Small buttons sit on a panel's sky fill: the ground around their rounded corners is sky.
// A body with a darker rim and a lighter top edge.
void buttonBody(CPicture& p, int top, Rgb light, Rgb dark, Rgb rim)
{
    roundRect(p, 0, top, 15, top + 16, 3.2, rim);
    roundRectGradient(p, 1, top + 1, 14, top + 15, 2.4, light, dark);
}

// Pixel icons: '#' full ink, '+' half ink.
void icon(CPicture& p, int x, int y, std::initializer_list<const char*> rows, Rgb ink)
{
    int row = 0;
    for (const char* r : rows) {
        for (int col = 0; r[col]; ++col) {
            if (r[col] == '#')
                blend(p, x + col, y + row, ink, 1.0);
            else if (r[col] == '+')
                blend(p, x + col, y + row, ink, 0.45);
        }
        ++row;
    }
}

CPicture drawMenuFace()
{
    CPicture p(15, 16, 24);
    fill(p, 0, 0, 15, 16, kSky);
    buttonBody(p, 0, mix(kTeal, kSky, 0.35), kTeal, kDeepTeal);
    // Three menu lines over a small down-pointing arrow.
    icon(p, 3, 3,
         {"#########", "", "#########", "", "#########", "", "", "  #####", "   ###", "    #"},
         kAmber);
    return p;
}

// The load button: an arrow dropping into a tray; pressed, the body lights up amber and the
// icon sinks by one pixel.
CPicture drawLoadButton()
{
    CPicture p(15, 32, 24);
    fill(p, 0, 0, 15, 32, kSky);
    const auto arrow = {"    #", "    #", "    #",     "  #####",  "   ###",
                        "    #", "",      "#       #", "#########"};
    buttonBody(p, 0, mix(kTeal, kSky, 0.35), kTeal, kDeepTeal);
    icon(p, 3, 4, arrow, kAmber);
    buttonBody(p, 16, kAmber, mix(kAmber, kInk, 0.25), mix(kAmber, kInk, 0.5));
    icon(p, 3, 16 + 5, arrow, kDeepTeal);
    return p;
}

// Analysis mode: one, two or three lit bars of a level meter.
CPicture drawAnalysisButton()
{
    CPicture p(15, 48, 24);
    fill(p, 0, 0, 15, 48, kSky);
    for (int frame = 0; frame < 3; ++frame) {
        const int top = frame * 16;
        buttonBody(p, top, mix(kTeal, kSky, 0.35), kTeal, kDeepTeal);
        for (int bar = 0; bar < 3; ++bar) {
            const Rgb c = bar <= frame ? kAmber : mix(kTeal, kInk, 0.45);
            const int x = 3 + bar * 3, h = 4 + bar * 3;
            fill(p, x, top + 13 - h, x + 2, top + 13, c);
        }
    }
    return p;
}

CPicture drawAbout()
{
    CPicture p(189, 98, 24);
    // The window background lies under it at (589, 291): continue its metal.
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            p.at(x, y) = pack(ground(589 + x, 291 + y));
    badge(p, 2, 2, 187, 95, 9);
    strokeTextCentred(p, 95.0, 11.0, "SKORVALINE", 1.3, 2.6, 2.1, kAmber);
    echoes(p, 16, 173, 45, 11, 4, kSky);
    pixelTextCentred(p, 95, 64, "STEREO FILTER MAP DELAY", 1, kLight);
    pixelTextCentred(p, 95, 78, "VERSION 1.0", 1, kMid);
    return p;
}

}  // namespace

SKV_REGISTER_PICTURE(10056, "editor-background", drawBackground);
SKV_REGISTER_PICTURE(10057, "load-button", drawLoadButton);
SKV_REGISTER_PICTURE(10058, "analysis-button", drawAnalysisButton);
SKV_REGISTER_PICTURE(10059, "about", drawAbout);
SKV_REGISTER_PICTURE(10060, "menu-face", drawMenuFace);

}  // namespace skvpic
