// A Qt table model over a record-set data source, for the data grids.
//
// Rows are fetched lazily, in the dataset's current order, one batch per
// fetchMore; the model never walks the whole table. A fetch only counts the
// new rows and remembers the bookmark that ends their page; a page's cells
// are read when the view first asks for one of them. A record set that can
// count its rows without reading them (an index order:
// TDataSet::CountRecords) gives every row at the first fetch, with the
// bookmark that ends each page, so the scroll bar knows the list's size and
// the last page is read without the pages before it. A bounded number of pages stay cached and a page that was
// dropped is read again from the bookmark that precedes it. Reading goes through TDataSet::ScanRecords,
// so the dataset's current record and its visible rows do not move.
//
// Cell texts are the fields' display texts, which are bytes in code page
// 1251 (string fields pass through the dataset's translation first); they
// reach Qt converted to Unicode.
//
// Any change of the record set - order, range, filter, refetch, opening or
// closing - arrives as the data source's data-set-changed or active-changed
// notification and resets the model. Several notifications in a row without
// a fetch in between reset it once.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db.h"

class TDBGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Horizontal header data of this role: the column field's display width
  // in characters (the role the data grid asks for column widths).
  static constexpr int kDisplayWidthRole = Qt::UserRole + 100;

  explicit TDBGridModel(QObject* parent = nullptr);
  ~TDBGridModel() override;

  platform::TDataSource* DataSource() const;
  void SetDataSource(platform::TDataSource* source);

  // The columns by field name, in order; empty shows every visible field.
  // A name the dataset lacks gives an empty column.
  void SetColumns(const std::vector<std::string>& fieldNames);
  // The field shown in a column (null when absent or closed).
  platform::TField* ColumnField(int column) const;

  // Rows per fetch (and per cached page), and how many pages stay cached.
  int BatchSize() const { return batchSize_; }
  void SetBatchSize(int rows);
  int CachePages() const { return cachePages_; }
  void SetCachePages(int pages);
  int CachedPageCount() const { return static_cast<int>(cache_.size()); }

  // Moves the dataset to the record shown in `row`; false when the row's
  // record cannot be named (not fetched).
  bool MakeCurrent(int row);
  // The row that shows the dataset's current record, among the cached rows;
  // -1 when it is not among them.
  int CurrentRow() const;

  // Bytes of code page 1251 as Unicode.
  static QString FromAnsi(std::string_view bytes);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

 private:
  class Link;
  friend class Link;

  // One page of rows: every cell's text in one block, row by row, so a
  // page costs a few allocations rather than one per cell.
  struct Page {
    QString texts;                            // the cells' texts, concatenated
    std::vector<int32_t> ends;                // end of each cell in texts (rows x columns)
    std::vector<platform::TBookmark> marks;   // one per row
    uint64_t lastUse = 0;
    int32_t CellCount() const { return static_cast<int32_t>(ends.size()); }
    QString Cell(size_t cell) const;
    void Clear();
  };

  platform::TDataSet* ActiveDataSet() const;
  // The active dataset when it may be read now, else null.
  platform::TDataSet* ReadableDataSet() const;
  void ResolveColumns(std::vector<platform::TField*>& out) const;
  void ResetRows();
  void RecordChanged(platform::TField* field);
  // Appends the cells of the record the dataset currently answers from.
  void ReadRow(Page& page) const;
  // The cached page, read again when it was dropped; null when unreadable.
  const Page* PageAt(int pageIndex) const;
  void Remember(int pageIndex, Page page) const;

  std::unique_ptr<Link> link_;
  std::vector<std::string> columnNames_;
  std::vector<platform::TField*> columns_;
  int batchSize_ = 64;
  int cachePages_ = 16;
  int rowCount_ = 0;
  bool atEnd_ = false;
  bool moving_ = false;
  // Bookmark of the last row of each fetched page: where the next page starts.
  std::vector<platform::TBookmark> pageEnds_;
  mutable std::map<int, Page> cache_;
  // A dropped page whose storage the next page read reuses.
  mutable Page spare_;
  // Reused for each cell's display text while a page is read.
  mutable std::string scratch_;
  mutable uint64_t useClock_ = 0;
};
