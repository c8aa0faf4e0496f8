// The three built-in filter maps. Each must scan well: values spread over the whole range
// and neighbouring columns that differ, so a scan audibly moves the filter. #0 reads its
// values from the blue bytes, #1 and #2 from the red components of their colour tables,
// so those channels carry the structure and the tables keep red rising with the index.
#include "tools/pictures/Picture.h"

#include <algorithm>
#include <cmath>

namespace skvpic {

namespace {

constexpr double kPi = 3.14159265358979323846;

double lattice(int x, int y, std::uint32_t seed)
{
    return double(hash3(x, y, seed) >> 8) * (1.0 / 16777216.0);
}

// Value noise with a smoothstep blend between lattice points, in [0, 1).
double valueNoise(double x, double y, std::uint32_t seed)
{
    const double fx = std::floor(x), fy = std::floor(y);
    const int ix = int(fx), iy = int(fy);
    double tx = x - fx, ty = y - fy;
    tx = tx * tx * (3.0 - 2.0 * tx);
    ty = ty * ty * (3.0 - 2.0 * ty);
    const double a = lattice(ix, iy, seed), b = lattice(ix + 1, iy, seed);
    const double c = lattice(ix, iy + 1, seed), d = lattice(ix + 1, iy + 1, seed);
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

double fbm(double x, double y, std::uint32_t seed, int octaves)
{
    double sum = 0.0, amplitude = 0.5, norm = 0.0;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * valueNoise(x, y, seed + std::uint32_t(o) * 101u);
        norm += amplitude;
        amplitude *= 0.5;
        // Not exactly 2 and shifted: the octaves' lattices would otherwise line up into a
        // visible grid.
        x = x * 2.03 + 17.1;
        y = y * 1.97 - 5.3;
    }
    return sum / norm;
}

// Maps a field linearly onto 0..255 from its own extremes: noise sums bunch up around the
// middle, and a map scans well only when its values use the whole range.
std::vector<int> stretch(const std::vector<double>& field)
{
    const auto [lo, hi] = std::minmax_element(field.begin(), field.end());
    const double span = *hi > *lo ? *hi - *lo : 1.0;
    std::vector<int> out(field.size());
    for (std::size_t i = 0; i < field.size(); ++i)
        out[i] = std::clamp(int(std::lround((field[i] - *lo) / span * 255.0)), 0, 255);
    return out;
}

// "#0": domain-warped fractal noise crossed with the ridges of a Julia set.
CPicture drawFractalMayhem()
{
    CPicture p(560, 281, 24);
    std::vector<double> blue(p.pixels.size()), red(p.pixels.size()), green(p.pixels.size());
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const double u = x / 56.0, v = y / 56.0;
            const double wx = fbm(u + 1.7, v + 9.2, 11u, 5);
            const double wy = fbm(u + 8.3, v + 2.8, 23u, 5);
            const double f = fbm(u + 4.0 * wx, v + 4.0 * wy, 37u, 6);
            // Julia set z^2 + c, smooth escape count, over a window covering the picture.
            double zr = (x - 280.0) / 180.0, zi = (y - 140.0) / 180.0;
            int n = 0;
            while (n < 64 && zr * zr + zi * zi < 16.0) {
                const double t = zr * zr - zi * zi - 0.79;
                zi = 2.0 * zr * zi + 0.15;
                zr = t;
                ++n;
            }
            const double ridge = 0.5 + 0.5 * std::sin(n * 0.55 + f * 9.0);
            const std::size_t i = std::size_t(y) * std::size_t(p.width) + std::size_t(x);
            blue[i] = 0.6 * f + 0.4 * ridge;
            red[i] = wx + 0.3 * ridge;
            green[i] = 0.5 * f + 0.5 * wy;
        }
    }
    const std::vector<int> b = stretch(blue), r = stretch(red), g = stretch(green);
    for (std::size_t i = 0; i < p.pixels.size(); ++i)
        p.pixels[i] =
            (std::uint32_t(r[i]) << 16) | (std::uint32_t(g[i] / 2 + 40) << 8) | std::uint32_t(b[i]);
    return p;
}

// "#1": two interfering circular waves and a slanted carrier, broken into macro blocks,
// torn scan lines and coarsely quantised tiles, like a damaged digital signal.
CPicture drawDigitalInterference()
{
    CPicture p(1034, 689, 8);
    for (int i = 0; i < 256; ++i) {
        const double t = i / 255.0;
        p.palette.push_back({std::uint8_t(i),
                             std::uint8_t(std::lround(
                                 255.0 * (0.5 + 0.5 * std::sin(t * 5.0 * kPi)) * (1.0 - 0.6 * t))),
                             std::uint8_t(std::lround(255.0 * (1.0 - t) * 0.8 + 40.0 * t))});
    }
    std::vector<double> field(p.pixels.size());
    for (int y = 0; y < p.height; ++y) {
        // Torn lines: whole rows shifted sideways by a hashed amount.
        const std::uint32_t lineHash = hash3(0, y / 3, 71u);
        const int tear = (lineHash % 19u == 0u) ? int(lineHash % 97u) - 48 : 0;
        for (int x = 0; x < p.width; ++x) {
            const int bx = (x + tear) / 16, by = y / 8;
            const std::uint32_t blockHash = hash3(bx, by, 5u);
            const int sx = x + tear + ((blockHash % 11u == 0u) ? int(blockHash % 41u) - 20 : 0);
            const double d1 = std::hypot(sx - 310.0, y - 240.0);
            const double d2 = std::hypot(sx - 790.0, y - 500.0);
            double w =
                std::sin(d1 * 0.085) + std::sin(d2 * 0.07) + 0.7 * std::sin(sx * 0.029 + y * 0.013);
            if (blockHash % 7u == 0u)
                w = std::round(w * 2.0) / 2.0;  // coarse quantisation inside a broken block
            if (blockHash % 53u == 0u)
                w = -w;
            field[std::size_t(y) * std::size_t(p.width) + std::size_t(x)] = w;
        }
    }
    const std::vector<int> level = stretch(field);
    for (std::size_t i = 0; i < level.size(); ++i)
        p.pixels[i] = std::uint32_t(level[i]);
    return p;
}

// 5 x 7 capitals for the title screen.
const char* glyph(char c)
{
    switch (c) {
    case 'A':
        return " ### #   ##   #######   ##   ##   #";
    case 'D':
        return "#### #   ##   ##   ##   ##   ##### ";
    case 'E':
        return "######    #    #### #    #    #####";
    case 'I':
        return " ###   #    #    #    #    #   ### ";
    case 'K':
        return "#   ##  # # #  ##   # #  #  # #   #";
    case 'L':
        return "#    #    #    #    #    #    #####";
    case 'N':
        return "#   ###  ## # ##  ###   ##   ##   #";
    case 'O':
        return " ### #   ##   ##   ##   ##   # ### ";
    case 'R':
        return "#### #   ##   ##### # #  #  # #   #";
    case 'S':
        return " #####    #     ###     #    ##### ";
    case 'T':
        return "#####  #    #    #    #    #    #  ";
    case 'V':
        return "#   ##   ##   ##   ##   # # #   #  ";
    case 'Y':
        return "#   ##   # # #   #    #    #    #  ";
    default:
        return "                                   ";
    }
}

// Draws `text` with its top-left corner at (x0, y0), each glyph cell scale x scale pixels.
void drawText(CPicture& p, const char* text, int x0, int y0, int scale, std::uint32_t index)
{
    for (int k = 0; text[k] != 0; ++k) {
        const char* g = glyph(text[k]);
        const std::size_t len = std::char_traits<char>::length(g);
        for (int gy = 0; gy < 7; ++gy)
            for (int gx = 0; gx < 5; ++gx) {
                const std::size_t at = std::size_t(gy) * 5 + std::size_t(gx);
                if (at >= len || g[at] != '#')
                    continue;
                for (int dy = 0; dy < scale; ++dy)
                    for (int dx = 0; dx < scale; ++dx) {
                        const int x = x0 + (k * 6 + gx) * scale + dx, y = y0 + gy * scale + dy;
                        if (x >= 0 && x < p.width && y >= 0 && y < p.height)
                            p.at(x, y) = index;
                    }
            }
    }
}

int textWidth(const char* text, int scale)
{
    return (int(std::char_traits<char>::length(text)) * 6 - 1) * scale;
}

// "#2": the title screen, also the editor's splash: the product name over an ordered-
// dithered wave landscape in eight colours whose red rises with the index.
CPicture drawTitleScreen()
{
    CPicture p(787, 390, 4);
    p.palette = {{{12, 14, 44}},   {{44, 28, 86}},  {{84, 40, 112}},  {{122, 50, 122}},
                 {{164, 62, 104}}, {{204, 92, 64}}, {{236, 162, 52}}, {{255, 242, 206}}};
    static const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const double ridge =
                0.5 + 0.5 * std::sin(x * 0.021 + 2.5 * std::sin(y * 0.017 + x * 0.004));
            const double sky = 1.0 - double(y) / p.height;
            const double noise = fbm(x / 40.0, y / 40.0, 91u, 4);
            const double t =
                std::clamp(0.45 * ridge + 0.35 * sky + 0.4 * (noise - 0.5), 0.0, 0.999);
            const double level = t * 6.0 + (bayer[y & 3][x & 3] + 0.5) / 16.0 - 0.5;
            p.at(x, y) = std::uint32_t(std::clamp(int(std::floor(level + 0.5)), 0, 6));
        }
    const char* title = "SKORVALINE";
    const char* subtitle = "STEREO DELAY";
    const int scale = 11, x0 = (p.width - textWidth(title, scale)) / 2, y0 = 120;
    drawText(p, title, x0 + 5, y0 + 5, scale, 0);  // shadow
    drawText(p, title, x0, y0, scale, 7);
    const int small = 4, x1 = (p.width - textWidth(subtitle, small)) / 2;
    drawText(p, subtitle, x1 + 2, y0 + 7 * scale + 30 + 2, small, 0);
    drawText(p, subtitle, x1, y0 + 7 * scale + 30, small, 6);
    return p;
}

}  // namespace

SKV_REGISTER_PICTURE(10000, "fractal-mayhem", drawFractalMayhem);
SKV_REGISTER_PICTURE(10001, "digital-interference", drawDigitalInterference);
SKV_REGISTER_PICTURE(10002, "title-screen", drawTitleScreen);

}  // namespace skvpic
