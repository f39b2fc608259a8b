// The data grid: its columns, widths, lines, selection and resizing.
#include <QHeaderView>
#include <QPointer>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include "ui/coolstyle.h"
#include "ui/rxdbgrid.h"

namespace {

// A stand-in for the dataset's model: the four directory fields, with
// their display widths, and `rows` rows; it can be reset as a new search
// resets the dataset's model.
class DirectoryItems : public QStandardItemModel {
 public:
  using QStandardItemModel::QStandardItemModel;
  void Reset() {
    beginResetModel();
    endResetModel();
  }
};

std::unique_ptr<DirectoryItems> DirectoryModel(int rows) {
  auto model = std::make_unique<DirectoryItems>(rows, 4);
  const char* names[] = {"NUM", "FIO", "ADR", "TIP"};
  const int widths[] = {7, 35, 35, 6};
  for (int c = 0; c < 4; ++c) {
    model->setHeaderData(c, Qt::Horizontal, QString::fromLatin1(names[c]));
    model->setHeaderData(c, Qt::Horizontal, widths[c], TRxDBGrid::kDisplayWidthRole);
  }
  for (int r = 0; r < rows; ++r) {
    model->setData(model->index(r, 0), QString::number(2000000 + r * 1111));
    model->setData(model->index(r, 1), QStringLiteral(u"ИВАНОВ И.И. %1").arg(r));
    model->setData(model->index(r, 2), QStringLiteral(u"УЛ. ЛЕНИНА %1").arg(r));
    model->setData(model->index(r, 3), 1 + r % 3);
  }
  return model;
}

class GridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    grid_.setFont(CoolFont(QStringLiteral("Arial"), -13));
    grid_.setGeometry(0, 0, 480, 267);
    grid_.SetColor(QColor(240, 240, 240));
    grid_.SetColumns({{QStringLiteral("NUM"), 70}, {QStringLiteral("ADR"), 385}});
    model_ = DirectoryModel(30);
    grid_.setModel(model_.get());
    grid_.show();
  }

  TRxDBGrid grid_;
  std::unique_ptr<DirectoryItems> model_;
};

}  // namespace

TEST_F(GridTest, ShowsExactlyItsColumnsInOrderWithTheirWidths) {
  EXPECT_EQ(grid_.ShownFieldNames(), (QStringList{QStringLiteral("NUM"), QStringLiteral("ADR")}));
  EXPECT_EQ(grid_.columnWidth(0), 70);
  EXPECT_EQ(grid_.columnWidth(2), 385);
  EXPECT_TRUE(grid_.isColumnHidden(1));
  EXPECT_TRUE(grid_.isColumnHidden(3));
  EXPECT_EQ(grid_.ModelColumn(1), 2);

  // Columns are listed in their own order, whatever the model's order, and
  // fields are matched without regard to case; unknown fields are skipped.
  grid_.SetColumns({{QStringLiteral("adr"), 100}, {QStringLiteral("NOPE"), 50}, {QStringLiteral("Num"), 60}});
  EXPECT_EQ(grid_.ShownFieldNames(), (QStringList{QStringLiteral("ADR"), QStringLiteral("NUM")}));
  EXPECT_EQ(grid_.ModelColumn(1), -1);
  EXPECT_LT(grid_.columnViewportPosition(2), grid_.columnViewportPosition(0));
}

TEST_F(GridTest, FieldNameRoleTakesPrecedenceOverTheHeaderText) {
  model_->setHeaderData(0, Qt::Horizontal, QStringLiteral(u"Номер"));
  model_->setHeaderData(0, Qt::Horizontal, QStringLiteral("NUM"), TRxDBGrid::kFieldNameRole);
  model_->setHeaderData(2, Qt::Horizontal, QStringLiteral("ADR"), TRxDBGrid::kFieldNameRole);
  model_->setHeaderData(2, Qt::Horizontal, QStringLiteral("NUM"));
  EXPECT_EQ(grid_.ModelColumn(0), 0);
  EXPECT_EQ(grid_.ModelColumn(1), 2);
  EXPECT_EQ(grid_.ShownFieldNames(), (QStringList{QStringLiteral("NUM"), QStringLiteral("ADR")}));
}

TEST_F(GridTest, DefaultWidthFitsTheFieldsDisplayWidth) {
  grid_.SetColumns({{QStringLiteral("NUM")}, {QStringLiteral("FIO"), 200}, {QStringLiteral("ADR"), 200}});
  const int numWidth = grid_.columnWidth(0);
  const QFontMetrics metrics(grid_.font());
  EXPECT_GE(numWidth, metrics.horizontalAdvance(QStringLiteral("2032189")) + 2);
  EXPECT_LT(numWidth, 120);
  // Without a display width from the model, a fixed default.
  model_->setHeaderData(0, Qt::Horizontal, QVariant(), TRxDBGrid::kDisplayWidthRole);
  EXPECT_EQ(grid_.columnWidth(0), 64);
}

TEST_F(GridTest, ColumnsAreMatchedAgainAfterTheModelResets) {
  QStandardItemModel other(5, 3);
  other.setHorizontalHeaderLabels({QStringLiteral("ADR"), QStringLiteral("FIO"), QStringLiteral("NUM")});
  grid_.setModel(&other);
  EXPECT_EQ(grid_.ShownFieldNames(), (QStringList{QStringLiteral("NUM"), QStringLiteral("ADR")}));
  EXPECT_TRUE(grid_.isColumnHidden(1));
  // The first model's signals no longer reach the grid.
  model_->setHeaderData(0, Qt::Horizontal, QStringLiteral("XXX"));
  EXPECT_EQ(grid_.ShownFieldNames(), (QStringList{QStringLiteral("NUM"), QStringLiteral("ADR")}));
  other.clear();
  other.setColumnCount(2);
  other.setHorizontalHeaderLabels({QStringLiteral("ADR"), QStringLiteral("NUM")});
  EXPECT_EQ(grid_.ShownFieldNames(), (QStringList{QStringLiteral("NUM"), QStringLiteral("ADR")}));
  EXPECT_EQ(grid_.columnWidth(1), 70);
  grid_.setModel(nullptr);
  EXPECT_TRUE(grid_.ShownFieldNames().isEmpty());
}

TEST_F(GridTest, HasNoTitleRowNoIndicatorAndIsReadOnlyWithWholeRowSelection) {
  EXPECT_TRUE(grid_.horizontalHeader()->isHidden());
  EXPECT_TRUE(grid_.verticalHeader()->isHidden());
  EXPECT_EQ(grid_.frameShape(), QFrame::NoFrame);
  const QRect cell = grid_.visualRect(model_->index(3, 2));
  QTest::mouseClick(grid_.viewport(), Qt::LeftButton, {}, cell.center());
  const QModelIndexList selected = grid_.selectionModel()->selectedIndexes();
  EXPECT_TRUE(grid_.selectionModel()->isRowSelected(3, {}));
  EXPECT_GE(selected.size(), 2);
  QTest::mouseDClick(grid_.viewport(), Qt::LeftButton, {}, cell.center());
  QTest::keyClick(grid_.viewport(), Qt::Key_F2);
  QTest::keyClicks(grid_.viewport(), QStringLiteral("X"));
  EXPECT_EQ(grid_.indexWidget(model_->index(3, 2)), nullptr);
  EXPECT_EQ(model_->data(model_->index(3, 2)).toString(), QStringLiteral(u"УЛ. ЛЕНИНА 3"));
}

TEST_F(GridTest, TheFirstRowIsCurrentAndHighlightedAfterEveryReset) {
  const auto expectFirstRow = [this](const char* when) {
    EXPECT_EQ(grid_.currentIndex().row(), 0) << when;
    EXPECT_TRUE(grid_.selectionModel()->isRowSelected(0, {})) << when;
    EXPECT_EQ(grid_.selectionModel()->selectedRows().size(), 1) << when;
  };
  expectFirstRow("with a new model");
  grid_.setFocus();
  QTest::keyClick(grid_.viewport(), Qt::Key_Down);
  QTest::keyClick(grid_.viewport(), Qt::Key_Down);
  EXPECT_EQ(grid_.currentIndex().row(), 2);
  EXPECT_TRUE(grid_.selectionModel()->isRowSelected(2, {})) << "the frame and the highlight move together";
  model_->setRowCount(12);  // no reset: the current row stays
  EXPECT_EQ(grid_.currentIndex().row(), 2);
  QStandardItemModel empty;
  grid_.setModel(&empty);
  EXPECT_FALSE(grid_.currentIndex().isValid()) << "no rows, no current row";
  grid_.setModel(model_.get());
  expectFirstRow("with the rows back");
  // A reset of the model itself (a new search) comes back to the first row.
  grid_.setCurrentIndex(model_->index(11, 0));
  ASSERT_EQ(grid_.currentIndex().row(), 11);
  model_->Reset();
  expectFirstRow("after a reset");
}

// A grid's row header keeps a few bytes for every row it has had; given
// another model, or none, the grid lets the old rows go with their header
// and its rows look as before.
TEST_F(GridTest, AnotherModelOrNoneLetsTheOldRowsGoAndKeepsTheRowsLook) {
  const int height = grid_.rowHeight(0);
  ASSERT_GT(height, 10);
  QPointer<QHeaderView> old = grid_.verticalHeader();
  auto longer = DirectoryModel(500);
  grid_.setModel(longer.get());
  EXPECT_TRUE(old.isNull()) << "the header of the last model's rows is gone";
  for (QAbstractItemModel* shown : {static_cast<QAbstractItemModel*>(longer.get()),
                                    static_cast<QAbstractItemModel*>(nullptr),
                                    static_cast<QAbstractItemModel*>(model_.get())}) {
    grid_.setModel(shown);
    const int rows = shown ? shown->rowCount() : 0;
    QHeaderView* header = grid_.verticalHeader();
    EXPECT_EQ(header->count(), rows);
    EXPECT_TRUE(header->isHidden()) << rows << " rows";
    if (rows == 0) continue;
    EXPECT_EQ(header->sectionResizeMode(0), QHeaderView::Fixed);
    EXPECT_EQ(grid_.rowHeight(rows - 1), height);
    EXPECT_EQ(grid_.rowViewportPosition(3), 3 * height);
    EXPECT_EQ(grid_.ShownFieldNames(), (QStringList{QStringLiteral("NUM"), QStringLiteral("ADR")}));
    EXPECT_EQ(grid_.currentIndex().row(), 0);
  }
  // The row height still follows the font.
  grid_.setFont(CoolFont(QStringLiteral("Arial"), -20));
  EXPECT_GT(grid_.rowHeight(0), height);
}

TEST_F(GridTest, DrawsColumnLinesButNoRowLines) {
  grid_.clearSelection();
  grid_.setCurrentIndex({});
  grid_.clearFocus();
  const QImage image = grid_.viewport()->grab().toImage();
  const QColor line = grid_.LineColor();
  const int rowHeight = grid_.rowHeight(0);
  // At the line after NUM, every row has the line colour.
  const int lineX = grid_.columnViewportPosition(0) + grid_.columnWidth(0) - 1;
  for (int y = 1; y < rowHeight * 10; y += 3) EXPECT_EQ(QColor(image.pixel(lineX, y)), line) << y;
  // Along a row boundary, away from the text, the grid colour continues.
  const int boundaryY = rowHeight * 4 - 1;
  for (int x = 150; x < 300; x += 5) EXPECT_EQ(QColor(image.pixel(x, boundaryY)), grid_.Color()) << x;
  // Below the last row there are no lines.
  QStandardItemModel few(2, 1);
  few.setHorizontalHeaderLabels({QStringLiteral("NUM")});
  grid_.setModel(&few);
  const QImage short_ = grid_.viewport()->grab().toImage();
  const int shortLineX = grid_.columnWidth(0) - 1;
  EXPECT_EQ(QColor(short_.pixel(shortLineX, rowHeight)), line);
  EXPECT_EQ(QColor(short_.pixel(shortLineX, rowHeight * 5)), grid_.Color());
}

TEST_F(GridTest, DraggingAColumnLineResizesTheColumn) {
  const int lineX = grid_.columnViewportPosition(0) + grid_.columnWidth(0) - 1;
  QWidget* viewport = grid_.viewport();
  const QModelIndexList selectedBefore = grid_.selectionModel()->selectedIndexes();
  QTest::mousePress(viewport, Qt::LeftButton, {}, QPoint(lineX, 40));
  QTest::mouseMove(viewport, QPoint(lineX + 30, 40));
  QTest::mouseRelease(viewport, Qt::LeftButton, {}, QPoint(lineX + 30, 40));
  EXPECT_EQ(grid_.columnWidth(0), 100);
  EXPECT_EQ(grid_.selectionModel()->selectedIndexes(), selectedBefore) << "grabbing a line does not select";
  // Never narrower than a few pixels.
  const int newLine = grid_.columnViewportPosition(0) + grid_.columnWidth(0) - 1;
  QTest::mousePress(viewport, Qt::LeftButton, {}, QPoint(newLine, 40));
  QTest::mouseMove(viewport, QPoint(0, 40));
  QTest::mouseRelease(viewport, Qt::LeftButton, {}, QPoint(0, 40));
  EXPECT_EQ(grid_.columnWidth(0), 8);
}
