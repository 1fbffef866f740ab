// The benchmarks' test picture: opaque RGB that behaves like a photograph for
// a resampler or a blur (smooth shading, edges, fine texture and grain), made
// from the size alone so that zpxbench and the peer comparison use the same
// pixels without shipping an image.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace zpxbench {

// Deterministic grain in -16 .. 15.
inline int Grain(uint32_t x, uint32_t y, uint32_t seed) {
    uint32_t h = x * 0x9E3779B1u ^ (y + seed) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return static_cast<int>(h & 31u) - 16;
}

inline uint8_t Clamp(double value) { return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value); }

// width * height * 3 bytes, rows top to bottom; `seed` gives a different picture of the same size.
inline std::vector<uint8_t> PhotoRGB(int width, int height, uint32_t seed = 0) {
    std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3);
    const double cx = width * 0.62, cy = height * 0.45, radius = 0.28 * (width < height ? width : height);
    for (int y = 0; y < height; ++y) {
        const double v = double(y) / height;
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width;
            // Sky-to-ground shading with broad waves, a disc with a hard edge, and a striped band.
            double r = 70 + 120 * v + 30 * std::sin(6.1 * u + 2.3 * v + seed);
            double g = 90 + 80 * (1 - v) + 25 * std::sin(4.7 * v - 3.1 * u);
            double b = 160 - 90 * v + 20 * std::cos(5.3 * u * v + seed);
            const double dx = x - cx, dy = y - cy;
            if (dx * dx + dy * dy < radius * radius) r += 60, g -= 30, b -= 50;
            if (v > 0.7 && v < 0.8) g += 40 * std::sin(x * 0.35);
            const int grain = Grain(uint32_t(x), uint32_t(y), seed);
            uint8_t* p = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
            p[0] = Clamp(r + grain);
            p[1] = Clamp(g + grain / 2);
            p[2] = Clamp(b - grain);
        }
    }
    return rgb;
}

}  // namespace zpxbench
