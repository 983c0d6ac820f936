#pragma once
#include <QImage>
#include <cmath>
#include <cstdint>

// A deterministic stand-in for a photograph: smooth shading, edges and a
// little grain, so JPEG sizes fall with the factor as they do for photos.
inline QImage testPhoto(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    std::uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        uchar *row = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 28) - 8;
            const double u = double(x) / width, v = double(y) / height;
            const double shade = 0.5 + 0.35 * std::sin(9 * u + 4 * v) * std::cos(7 * v - 3 * u);
            const bool edge = ((x / 37) + (y / 23)) % 5 == 0;
            auto clamp = [](double c) { return uchar(c < 0 ? 0 : c > 255 ? 255 : c); };
            row[3 * x] = clamp(255 * shade + grain + (edge ? 60 : 0));
            row[3 * x + 1] = clamp(200 * v + 40 * shade + grain);
            row[3 * x + 2] = clamp(180 * (1 - u) + grain - (edge ? 50 : 0));
        }
    }
    return image;
}
