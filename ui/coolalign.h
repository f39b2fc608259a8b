// Placement of child controls by alignment, as the forms store it.
//
// A control aligned to the top, bottom, left or right edge keeps its height
// (or width) and takes the whole remaining width (or height) along that edge;
// a control aligned to the client area fills what is left. Edges are served
// in the order top, bottom, left, right, client; controls of one kind in the
// order they were added. The area is the parent's contents rectangle, so a
// panel's bevels stay uncovered. Controls not added here keep the position
// they were given.
#pragma once

#include <QLayout>

#include <vector>

enum class TAlign { Top, Bottom, Left, Right, Client };

class TAlignLayout : public QLayout {
 public:
  explicit TAlignLayout(QWidget* parent);
  ~TAlignLayout() override;

  // Places `widget` (a child of the layout's parent) by `align`, at once.
  void AddWidget(QWidget* widget, TAlign align);
  // Places every child now in the parent's contents rectangle, and the
  // aligned children of those children in turn. Qt does this itself on
  // resizes of visible widgets; this also serves widgets not yet shown.
  void Arrange();

  void addItem(QLayoutItem* item) override;
  QSize sizeHint() const override;
  QSize minimumSize() const override;
  void setGeometry(const QRect& rect) override;
  QLayoutItem* itemAt(int index) const override;
  QLayoutItem* takeAt(int index) override;
  int count() const override;

 private:
  struct Entry {
    QLayoutItem* item;
    TAlign align;
  };
  std::vector<Entry> entries_;
};
