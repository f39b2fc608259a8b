// TRxDBGrid: the read-only data grid of the viewer, a table view over any
// item model. It shows the columns it is configured with, in that order and
// with their widths, and no others: no title row, no indicator column, no
// horizontal lines; columns are separated by vertical lines, a click selects
// a whole row, and a column is resized by dragging its right-hand line.
//
// A configured column names its field; the grid finds it among the model's
// columns by the field name the model gives as horizontal header data of
// kFieldNameRole, or else by the header text (DisplayRole), ignoring case. A column without a stated width gets one that fits its field's
// display width, which the model may give in characters as horizontal
// header data of kDisplayWidthRole (64 pixels when it gives none). Columns
// are matched again whenever the model is reset or its columns change.
//
// After a reset - a new order, range or search - the first row is the
// current row, highlighted and framed: the record set stands at its first
// record then.
#pragma once

#include <QTableView>

class QHeaderView;

#include <vector>

struct TRxColumn {
  static constexpr int kDefaultWidth = -1;
  TRxColumn(QString field, int pixels = kDefaultWidth, QString title = {})
      : fieldName(std::move(field)), width(pixels), caption(std::move(title)) {}
  QString fieldName;
  int width = kDefaultWidth;
  QString caption;  // kept with the column; the grid shows no title row
};

class TRxDBGrid : public QTableView {
  Q_OBJECT

 public:
  static constexpr int kDisplayWidthRole = Qt::UserRole + 100;
  static constexpr int kFieldNameRole = Qt::UserRole + 101;

  explicit TRxDBGrid(QWidget* parent = nullptr);

  void SetColumns(std::vector<TRxColumn> columns);
  const std::vector<TRxColumn>& Columns() const { return columns_; }

  void setModel(QAbstractItemModel* model) override;

  // The model column shown as configured column `index`, -1 when the model
  // has no such field (or there is no model).
  int ModelColumn(int index) const;
  // Field names of the columns shown, left to right.
  QStringList ShownFieldNames() const;
  // The field name of a model column.
  QString FieldName(int modelColumn) const;

  QColor Color() const { return color_; }
  void SetColor(const QColor& color);
  QColor FontColor() const { return fontColor_; }
  void SetFontColor(const QColor& color);
  // Colour of fixed cells; kept with the grid, which shows none.
  QColor FixedColor() const { return fixedColor_; }
  void SetFixedColor(const QColor& color) { fixedColor_ = color; }

  // Colour of the vertical lines between columns.
  QColor LineColor() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void ApplyColumns();
  // Makes the first row current and selected (fetching it when needed).
  void SelectFirstRow();
  void ApplyPalette();
  void ApplyRowHeight();
  // The row header as the grid wants it: hidden, rows of one fixed height.
  static void SetUpRowHeader(QHeaderView* header);
  int DefaultWidth(int modelColumn) const;
  // The shown model column whose right-hand line is within reach of `x`
  // (viewport coordinates), -1 when none is.
  int ColumnLineAt(int x) const;

  std::vector<TRxColumn> columns_;
  std::vector<QMetaObject::Connection> modelConnections_;
  QColor color_ = Qt::white;
  QColor fontColor_ = Qt::black;
  QColor fixedColor_;
  int resizingColumn_ = -1;
  int resizeStartX_ = 0;
  int resizeStartWidth_ = 0;
};
