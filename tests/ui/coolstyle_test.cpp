// Colours, fonts, bevels, alignment and the wallpaper tile.
#include <QFontInfo>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "ui/coolalign.h"
#include "ui/coolpanel.h"
#include "ui/coolstyle.h"
#include "ui/coolwallpaper.h"

TEST(CoolStyle, StoredColourValuesAreBlueGreenRed) {
  EXPECT_EQ(ColorFromBgr(0x0000FF), QColor(255, 0, 0));
  EXPECT_EQ(ColorFromBgr(kClNavy), QColor(0, 0, 128));
  EXPECT_EQ(ColorFromBgr(kClYellow), QColor(255, 255, 0));
  // The caption bar's stored colour 16503458 is 0xFBD2A2: a light blue.
  EXPECT_EQ(ColorFromBgr(16503458), QColor(0xA2, 0xD2, 0xFB));
  // Bits above the colour are ignored.
  EXPECT_EQ(ColorFromBgr(0xFF123456), QColor(0x56, 0x34, 0x12));
}

TEST(CoolStyle, StoredFontsMapToInstalledFamiliesAndHeights) {
  struct Case {
    const char* stored;
    const char* installed;
  };
  for (const Case& c : {Case{"MS Sans Serif", "Liberation Sans"}, Case{"Arial", "Liberation Sans"},
                        Case{"Courier New", "Liberation Mono"}, Case{"Tahoma", "DejaVu Sans"}}) {
    const QFont font = CoolFont(QString::fromLatin1(c.stored), -13, true);
    const QFontInfo info(font);
    EXPECT_EQ(info.family(), QString::fromLatin1(c.installed)) << c.stored;
    EXPECT_EQ(info.pixelSize(), 13) << c.stored;
    EXPECT_TRUE(info.bold()) << c.stored;
  }
  // Cyrillic text is covered by the mapped family itself.
  EXPECT_TRUE(QFontMetrics(CoolFont(QStringLiteral("Arial"), -13)).inFont(QChar(u'Ж')));
  EXPECT_TRUE(QFontMetrics(CoolFont(QStringLiteral("Courier New"), -37)).inFont(QChar(u'щ')));
}

TEST(CoolStyle, RaisedBevelIsLightTopLeftAndDarkBottomRight) {
  QImage image(20, 10, QImage::Format_RGB32);
  const QColor face(128, 160, 192);
  image.fill(face);
  QRect area = image.rect();
  {
    QPainter painter(&image);
    DrawBevel(painter, area, TBevelCut::Raised, 2, face);
  }
  EXPECT_EQ(area, QRect(2, 2, 16, 6));
  const auto lightness = [&](int x, int y) { return QColor(image.pixel(x, y)).lightness(); };
  EXPECT_GT(lightness(5, 0), face.lightness());
  EXPECT_GT(lightness(0, 5), face.lightness());
  EXPECT_LT(lightness(5, 9), face.lightness());
  EXPECT_LT(lightness(19, 5), face.lightness());
  EXPECT_EQ(QColor(image.pixel(10, 5)), face);

  QRect lowered = image.rect();
  {
    QPainter painter(&image);
    DrawBevel(painter, lowered, TBevelCut::Lowered, 1, face);
  }
  EXPECT_LT(lightness(5, 0), face.lightness());
  EXPECT_GT(lightness(5, 9), face.lightness());
  QRect none = image.rect();
  QPainter painter(&image);
  DrawBevel(painter, none, TBevelCut::None, 3, face);
  EXPECT_EQ(none, image.rect());
}

TEST(CoolStyle, WallpaperTileIsSeamlessRepeatableAndNearItsColour) {
  const QColor base(212, 212, 212);
  const QImage tile = MakeWallpaperTile(base, 64);
  ASSERT_EQ(tile.size(), QSize(64, 64));
  EXPECT_EQ(tile, MakeWallpaperTile(base, 64));
  int differing = 0;
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      const QColor c(tile.pixel(x, y));
      EXPECT_LE(std::abs(c.red() - base.red()), 8);
      EXPECT_LE(std::abs(c.blue() - base.blue()), 8);
      if (c != base) ++differing;
    }
  }
  EXPECT_GT(differing, 64 * 64 / 2) << "a texture, not a flat fill";
  // Seamless: the step across the tile's edge is no larger than steps
  // inside it.
  int insideStep = 0, edgeStep = 0;
  for (int y = 0; y < 64; ++y) {
    insideStep = std::max(insideStep, std::abs(qGray(tile.pixel(31, y)) - qGray(tile.pixel(32, y))));
    edgeStep = std::max(edgeStep, std::abs(qGray(tile.pixel(63, y)) - qGray(tile.pixel(0, y))));
  }
  EXPECT_LE(edgeStep, insideStep + 4);
}

TEST(CoolAlign, EdgesAreServedBeforeTheClientArea) {
  TCoolPanel panel;
  panel.SetBevelInner(TBevelCut::Lowered);
  panel.SetBevelOuter(TBevelCut::Raised);
  panel.SetBevelWidth(2);
  auto* client = new TCoolPanel(&panel);
  auto* top = new TCoolPanel(&panel);
  auto* bottom = new TCoolPanel(&panel);
  auto* right = new TCoolPanel(&panel);
  auto* fixed = new TCoolPanel(&panel);
  top->resize(10, 21);
  bottom->resize(10, 15);
  right->resize(50, 10);
  fixed->setGeometry(7, 8, 9, 10);
  // Added in an order that differs from the order of service.
  panel.AddAligned(client, TAlign::Client);
  panel.AddAligned(right, TAlign::Right);
  panel.AddAligned(bottom, TAlign::Bottom);
  panel.AddAligned(top, TAlign::Top);
  panel.resize(200, 100);
  panel.show();
  panel.layout()->activate();

  EXPECT_EQ(panel.ClientRect(), QRect(4, 4, 192, 92));
  EXPECT_EQ(top->geometry(), QRect(4, 4, 192, 21));
  EXPECT_EQ(bottom->geometry(), QRect(4, 81, 192, 15));
  EXPECT_EQ(right->geometry(), QRect(146, 25, 50, 56));
  EXPECT_EQ(client->geometry(), QRect(4, 25, 142, 56));
  EXPECT_EQ(fixed->geometry(), QRect(7, 8, 9, 10));

  // Too small for its edges: nothing gets a negative size.
  panel.resize(20, 20);
  panel.layout()->activate();
  EXPECT_GE(client->width(), 0);
  EXPECT_GE(client->height(), 0);
  EXPECT_LE(top->height(), 12);
}
