// The page control's wallpaper: a small seamless tile, generated rather than
// loaded, that reads as fine woven linen in a tint of the given colour.
#pragma once

#include <QColor>
#include <QImage>

// A seamless tile of `size` × `size` pixels (size a multiple of 8) in tints
// of `base`. The same arguments always give the same image.
QImage MakeWallpaperTile(const QColor& base, int size = 64);
