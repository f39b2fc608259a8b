// Generated wallpaper tile.
#include "ui/coolwallpaper.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace {

// A repeatable pseudo-random value in [-1, 1] for a pixel; being a function
// of the pixel inside the tile only, it keeps the tile seamless.
double PixelNoise(int x, int y) {
  uint32_t h = static_cast<uint32_t>(x) * 0x9E3779B1u ^ static_cast<uint32_t>(y) * 0x85EBCA77u;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  h ^= h >> 15;
  return (h & 0xFFFF) / 32767.5 - 1.0;
}

int Channel(double value) { return std::clamp(static_cast<int>(std::lround(value)), 0, 255); }

}  // namespace

QImage MakeWallpaperTile(const QColor& base, int size) {
  size = std::max(8, size / 8 * 8);
  QImage tile(size, size, QImage::Format_RGB32);
  const double period = 2.0 * std::numbers::pi / 8.0;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      // Threads running across and down, each with a soft shading along its
      // length; which one is on top alternates every four pixels, as in a
      // plain weave. All periods divide the tile size.
      const bool acrossOnTop = ((x / 4) + (y / 4)) % 2 == 0;
      const double across = std::sin(period * x);
      const double down = std::sin(period * y);
      const double weave = acrossOnTop ? across : down;
      const double grain = PixelNoise(x, y);
      const double shade = 4.0 * weave + 2.6 * grain;
      // A faint cool cast in the shadows keeps the texture from looking
      // muddy on a grey base.
      tile.setPixel(x, y, qRgb(Channel(base.red() + shade), Channel(base.green() + shade),
                               Channel(base.blue() + shade * 0.8 + 1.0)));
    }
  }
  return tile;
}
