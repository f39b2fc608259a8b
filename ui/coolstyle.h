// Colours, fonts and bevel painting shared by the component set.
//
// The forms store colours as 0x00BBGGRR values and fonts by the names of the
// original desktop's fonts; both are turned into Qt values here and nowhere
// else, so every control looks up the same installed families.
#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

#include <cstdint>

class QPainter;

// Named colours of the forms, as stored values (0x00BBGGRR).
constexpr uint32_t kClBlack = 0x000000;
constexpr uint32_t kClNavy = 0x800000;
constexpr uint32_t kClBlue = 0xFF0000;
constexpr uint32_t kClYellow = 0x00FFFF;
constexpr uint32_t kClWhite = 0xFFFFFF;
constexpr uint32_t kClBtnFace = 0xC8D0D4;

// A stored colour value (0x00BBGGRR) as a Qt colour.
QColor ColorFromBgr(uint32_t bgr);

// A font of the forms: `family` is the stored font name, `height` the stored
// height (negative: character height in pixels; positive: cell height).
// The stored families map to installed, metric-compatible families with
// Cyrillic: MS Sans Serif and Arial to Liberation Sans, Courier New to
// Liberation Mono, Tahoma to DejaVu Sans.
QFont CoolFont(const QString& family, int height, bool bold = false);

// The installed family used for a stored font name.
QString InstalledFamily(const QString& storedFamily);

// The kinds of bevel edge a panel can draw.
enum class TBevelCut { None, Lowered, Raised };

// The light and dark edge colours derived from a face colour.
QColor BevelLight(const QColor& face);
QColor BevelDark(const QColor& face);

// Draws a bevel `width` pixels wide just inside `rect` (raised: light on the
// top and left, dark on the bottom and right; lowered: the reverse) and
// shrinks `rect` by the width. `None` draws nothing and leaves `rect`.
void DrawBevel(QPainter& painter, QRect& rect, TBevelCut cut, int width, const QColor& face);

// A colour between `a` (t = 0) and `b` (t = 1).
QColor MixColors(const QColor& a, const QColor& b, double t);
