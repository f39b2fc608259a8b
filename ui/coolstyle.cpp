// Colours, fonts and bevel painting shared by the component set.
#include "ui/coolstyle.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

QColor ColorFromBgr(uint32_t bgr) {
  return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                static_cast<int>((bgr >> 16) & 0xFF));
}

QString InstalledFamily(const QString& storedFamily) {
  const QString name = storedFamily.trimmed().toLower();
  if (name == u"ms sans serif" || name == u"arial" || name == u"ms shell dlg") {
    return QStringLiteral("Liberation Sans");
  }
  if (name == u"courier new" || name == u"courier") return QStringLiteral("Liberation Mono");
  if (name == u"tahoma" || name == u"verdana") return QStringLiteral("DejaVu Sans");
  if (name == u"times new roman") return QStringLiteral("Liberation Serif");
  return storedFamily;
}

QFont CoolFont(const QString& family, int height, bool bold) {
  QFont font;
  // The installed family first, DejaVu Sans behind it for any character the
  // first one lacks.
  font.setFamilies({InstalledFamily(family), QStringLiteral("DejaVu Sans")});
  // A negative stored height is the character (em) height, which is what Qt
  // calls the pixel size; a positive one includes the internal leading.
  const int pixels = height < 0 ? -height : std::max(1, static_cast<int>(std::lround(height * 0.8)));
  font.setPixelSize(std::max(1, pixels));
  font.setBold(bold);
  font.setHintingPreference(QFont::PreferFullHinting);
  return font;
}

QColor MixColors(const QColor& a, const QColor& b, double t) {
  const double s = 1.0 - t;
  return QColor(static_cast<int>(std::lround(a.red() * s + b.red() * t)),
                static_cast<int>(std::lround(a.green() * s + b.green() * t)),
                static_cast<int>(std::lround(a.blue() * s + b.blue() * t)));
}

QColor BevelLight(const QColor& face) { return MixColors(face, Qt::white, 0.75); }

QColor BevelDark(const QColor& face) { return MixColors(face, Qt::black, 0.45); }

void DrawBevel(QPainter& painter, QRect& rect, TBevelCut cut, int width, const QColor& face) {
  if (cut == TBevelCut::None || width <= 0) return;
  const bool raised = cut == TBevelCut::Raised;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  for (int i = 0; i < width && rect.width() > 1 && rect.height() > 1; ++i) {
    // The outermost line is the strongest; further lines soften towards the
    // face so that wide bevels read as a rounded edge.
    const double soften = width > 1 ? 0.45 * i / (width - 1) : 0.0;
    const QColor light = MixColors(BevelLight(face), face, soften);
    const QColor dark = MixColors(BevelDark(face), face, soften);
    const QColor topLeft = raised ? light : dark;
    const QColor bottomRight = raised ? dark : light;
    const int l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();
    painter.setPen(topLeft);
    painter.drawLine(l, t, r - 1, t);
    painter.drawLine(l, t, l, b - 1);
    painter.setPen(bottomRight);
    painter.drawLine(l, b, r, b);
    painter.drawLine(r, t, r, b);
    rect.adjust(1, 1, -1, -1);
  }
  painter.restore();
}
