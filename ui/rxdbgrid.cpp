// TRxDBGrid: read-only data grid over an item model.
#include "ui/rxdbgrid.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cstdlib>

#include "ui/coolstyle.h"

namespace {

constexpr int kFallbackWidth = 64;
constexpr int kMinimumWidth = 8;
// How close to a column line the mouse must be to grab it.
constexpr int kLineReach = 2;
constexpr int kTextIndent = 2;

// Paints one cell: the row highlight when selected, then the text as one
// clipped line, without the focus frame of the default delegate.
class CellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const bool selected = option.state & QStyle::State_Selected;
    const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
    const bool viewFocused = view != nullptr && view->hasFocus();
    if (selected) {
      painter->fillRect(option.rect, option.palette.color(viewFocused ? QPalette::Active : QPalette::Inactive,
                                                          QPalette::Highlight));
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty()) return;
    const QVariant alignment = index.data(Qt::TextAlignmentRole);
    const int horizontal = alignment.isValid() ? (alignment.toInt() & Qt::AlignHorizontal_Mask) : Qt::AlignLeft;
    painter->save();
    painter->setClipRect(option.rect.adjusted(0, 0, -1, 0));
    painter->setFont(option.font);
    painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(option.rect.adjusted(kTextIndent, 0, -kTextIndent - 1, 0),
                      horizontal | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter->restore();
  }
};

}  // namespace

TRxDBGrid::TRxDBGrid(QWidget* parent) : QTableView(parent) {
  horizontalHeader()->hide();
  SetUpRowHeader(verticalHeader());
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setMinimumSectionSize(kMinimumWidth);
  setShowGrid(false);
  setFrameShape(QFrame::NoFrame);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTabKeyNavigation(false);
  setWordWrap(false);
  setTextElideMode(Qt::ElideNone);
  setCornerButtonEnabled(false);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setItemDelegate(new CellDelegate(this));
  viewport()->setMouseTracking(true);
  ApplyPalette();
  ApplyRowHeight();
}

void TRxDBGrid::SetColumns(std::vector<TRxColumn> columns) {
  columns_ = std::move(columns);
  ApplyColumns();
}

void TRxDBGrid::SetUpRowHeader(QHeaderView* header) {
  header->hide();
  header->setSectionResizeMode(QHeaderView::Fixed);
}

void TRxDBGrid::setModel(QAbstractItemModel* newModel) {
  for (const auto& connection : modelConnections_) disconnect(connection);
  modelConnections_.clear();
  if (newModel != model() && model() != nullptr) {
    // The row header keeps a few bytes for every row it has ever had, even
    // once the rows are gone (a reset to fewer rows or no model keeps
    // them): a fresh one lets go of the last model's rows. The view lets
    // the old model go first, so that the fresh header is set up empty and
    // reads the new model's rows once. The old header is deleted with the
    // replacement.
    QTableView::setModel(nullptr);
    auto* header = new QHeaderView(Qt::Vertical, this);
    SetUpRowHeader(header);
    setVerticalHeader(header);
    ApplyRowHeight();
  }
  QTableView::setModel(newModel);
  if (newModel != nullptr) {
    auto reapply = [this] { ApplyColumns(); };
    modelConnections_.push_back(connect(newModel, &QAbstractItemModel::modelReset, this, [this] {
      ApplyColumns();
      SelectFirstRow();
    }));
    modelConnections_.push_back(connect(newModel, &QAbstractItemModel::columnsInserted, this, reapply));
    modelConnections_.push_back(connect(newModel, &QAbstractItemModel::columnsRemoved, this, reapply));
    modelConnections_.push_back(connect(newModel, &QAbstractItemModel::columnsMoved, this, reapply));
    modelConnections_.push_back(connect(newModel, &QAbstractItemModel::headerDataChanged, this,
                                        [this](Qt::Orientation orientation, int, int) {
                                          if (orientation == Qt::Horizontal) ApplyColumns();
                                        }));
  }
  ApplyColumns();
  SelectFirstRow();
}

void TRxDBGrid::SelectFirstRow() {
  QAbstractItemModel* source = model();
  if (source == nullptr) return;
  if (source->rowCount(rootIndex()) == 0 && source->canFetchMore(rootIndex())) source->fetchMore(rootIndex());
  if (source->rowCount(rootIndex()) == 0) return;
  int column = 0;
  while (column < source->columnCount(rootIndex()) - 1 && isColumnHidden(column)) ++column;
  // The current row (the focus frame) and the highlighted row are one.
  selectionModel()->setCurrentIndex(source->index(0, column, rootIndex()),
                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollToTop();
}

int TRxDBGrid::ModelColumn(int index) const {
  const QAbstractItemModel* source = model();
  if (source == nullptr || index < 0 || index >= static_cast<int>(columns_.size())) return -1;
  const QString wanted = columns_[static_cast<size_t>(index)].fieldName.trimmed();
  for (int c = 0; c < source->columnCount(); ++c) {
    if (FieldName(c).trimmed().compare(wanted, Qt::CaseInsensitive) == 0) return c;
  }
  return -1;
}

QString TRxDBGrid::FieldName(int modelColumn) const {
  const QAbstractItemModel* source = model();
  if (source == nullptr) return {};
  const QVariant name = source->headerData(modelColumn, Qt::Horizontal, kFieldNameRole);
  if (name.isValid()) return name.toString();
  return source->headerData(modelColumn, Qt::Horizontal, Qt::DisplayRole).toString();
}

QStringList TRxDBGrid::ShownFieldNames() const {
  QStringList names;
  const QAbstractItemModel* source = model();
  if (source == nullptr) return names;
  const QHeaderView* header = horizontalHeader();
  for (int visual = 0; visual < header->count(); ++visual) {
    const int logical = header->logicalIndex(visual);
    if (!isColumnHidden(logical)) names << FieldName(logical);
  }
  return names;
}

void TRxDBGrid::ApplyColumns() {
  const QAbstractItemModel* source = model();
  if (source == nullptr) return;
  QHeaderView* header = horizontalHeader();
  for (int c = 0; c < source->columnCount(); ++c) setColumnHidden(c, true);
  int position = 0;
  for (size_t i = 0; i < columns_.size(); ++i) {
    const int c = ModelColumn(static_cast<int>(i));
    if (c < 0 || !isColumnHidden(c)) continue;  // absent, or listed twice
    setColumnHidden(c, false);
    header->moveSection(header->visualIndex(c), position++);
    const int stated = columns_[i].width;
    setColumnWidth(c, stated == TRxColumn::kDefaultWidth ? DefaultWidth(c) : std::max(kMinimumWidth, stated));
  }
  viewport()->update();
}

int TRxDBGrid::DefaultWidth(int modelColumn) const {
  const QVariant chars = model()->headerData(modelColumn, Qt::Horizontal, kDisplayWidthRole);
  bool ok = false;
  const int count = chars.toInt(&ok);
  if (!ok || count <= 0) return kFallbackWidth;
  // Wide enough for that many digits, the widest common characters of a
  // short field, plus the text indent on both sides.
  const QFontMetrics metrics(font());
  return metrics.horizontalAdvance(QString(std::min(count, 255), QLatin1Char('0'))) + 2 * kTextIndent + 2;
}

void TRxDBGrid::SetColor(const QColor& color) {
  color_ = color;
  ApplyPalette();
}

void TRxDBGrid::SetFontColor(const QColor& color) {
  fontColor_ = color;
  ApplyPalette();
}

QColor TRxDBGrid::LineColor() const { return MixColors(color_, Qt::black, 0.22); }

void TRxDBGrid::ApplyPalette() {
  QPalette colors = palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    colors.setColor(group, QPalette::Base, color_);
    colors.setColor(group, QPalette::Window, color_);
    colors.setColor(group, QPalette::Text, fontColor_);
    colors.setColor(group, QPalette::HighlightedText, Qt::white);
  }
  // The selected row is deep blue while the grid has the focus and a
  // quieter blue-grey otherwise.
  colors.setColor(QPalette::Active, QPalette::Highlight, QColor(10, 36, 106));
  colors.setColor(QPalette::Inactive, QPalette::Highlight, QColor(112, 124, 156));
  setPalette(colors);
  viewport()->update();
}

void TRxDBGrid::ApplyRowHeight() {
  const int height = QFontMetrics(font()).height() + 3;
  verticalHeader()->setMinimumSectionSize(height);
  verticalHeader()->setDefaultSectionSize(height);
}

void TRxDBGrid::changeEvent(QEvent* event) {
  QTableView::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    ApplyRowHeight();
    ApplyColumns();
  }
}

void TRxDBGrid::paintEvent(QPaintEvent* event) {
  QTableView::paintEvent(event);
  const QAbstractItemModel* source = model();
  if (source == nullptr) return;
  const int rows = source->rowCount(rootIndex());
  if (rows <= 0) return;
  // Column lines run down through the rows and stop below the last row.
  const int lastRow = rows - 1;
  const int bottom = std::min(viewport()->height(), rowViewportPosition(lastRow) + rowHeight(lastRow)) - 1;
  if (bottom < 0) return;
  QPainter painter(viewport());
  painter.setPen(LineColor());
  const QHeaderView* header = horizontalHeader();
  for (int visual = 0; visual < header->count(); ++visual) {
    const int logical = header->logicalIndex(visual);
    if (isColumnHidden(logical)) continue;
    const int x = columnViewportPosition(logical) + columnWidth(logical) - 1;
    painter.drawLine(x, 0, x, bottom);
  }
  // A dotted frame around the current row while the grid has the focus.
  const QModelIndex current = currentIndex();
  if (hasFocus() && current.isValid()) {
    const int top = rowViewportPosition(current.row());
    const int height = rowHeight(current.row());
    int right = -1;
    for (int visual = 0; visual < header->count(); ++visual) {
      const int logical = header->logicalIndex(visual);
      if (!isColumnHidden(logical)) right = columnViewportPosition(logical) + columnWidth(logical) - 1;
    }
    if (top >= -height && right > 0) {
      QPen dotted(QColor(255, 255, 255, 170), 1, Qt::DotLine);
      painter.setPen(dotted);
      painter.drawRect(QRect(-horizontalOffset(), top, right + horizontalOffset(), height - 1));
    }
  }
}

int TRxDBGrid::ColumnLineAt(int x) const {
  const QAbstractItemModel* source = model();
  if (source == nullptr) return -1;
  int best = -1;
  int bestDistance = kLineReach + 1;
  for (int c = 0; c < source->columnCount(); ++c) {
    if (isColumnHidden(c)) continue;
    const int distance = std::abs(x - (columnViewportPosition(c) + columnWidth(c) - 1));
    if (distance < bestDistance) {
      best = c;
      bestDistance = distance;
    }
  }
  return best;
}

void TRxDBGrid::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    const int column = ColumnLineAt(event->position().toPoint().x());
    if (column >= 0) {
      resizingColumn_ = column;
      resizeStartX_ = event->position().toPoint().x();
      resizeStartWidth_ = columnWidth(column);
      event->accept();
      return;
    }
  }
  QTableView::mousePressEvent(event);
}

void TRxDBGrid::mouseMoveEvent(QMouseEvent* event) {
  const int x = event->position().toPoint().x();
  if (resizingColumn_ >= 0) {
    setColumnWidth(resizingColumn_, std::max(kMinimumWidth, resizeStartWidth_ + x - resizeStartX_));
    event->accept();
    return;
  }
  if (ColumnLineAt(x) >= 0) {
    viewport()->setCursor(Qt::SplitHCursor);
  } else {
    viewport()->unsetCursor();
  }
  QTableView::mouseMoveEvent(event);
}

void TRxDBGrid::mouseReleaseEvent(QMouseEvent* event) {
  if (resizingColumn_ >= 0) {
    resizingColumn_ = -1;
    event->accept();
    return;
  }
  QTableView::mouseReleaseEvent(event);
}
