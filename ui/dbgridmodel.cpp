// The lazy grid model: pages of rows read through dataset scans, a bounded
// page cache, and resets on record-set changes.
#include "ui/dbgridmodel.h"

#include <algorithm>

#include "platform/codepage.h"

using platform::TBookmark;
using platform::TDataSet;
using platform::TDataSource;
using platform::TField;

// The model's connection to its data source.
class TDBGridModel::Link : public platform::TDataLink {
 public:
  explicit Link(TDBGridModel& model) : model_(model) {}

 protected:
  void ActiveChanged() override { model_.ResetRows(); }
  void DataSetChanged() override {
    if (!model_.moving_) model_.ResetRows();
  }
  void LayoutChanged() override { model_.ResetRows(); }
  void DataSetScrolled(int32_t) override {}
  void RecordChanged(TField* field) override { model_.RecordChanged(field); }

 private:
  TDBGridModel& model_;
};

TDBGridModel::TDBGridModel(QObject* parent)
    : QAbstractTableModel(parent), link_(std::make_unique<Link>(*this)) {}

TDBGridModel::~TDBGridModel() = default;

TDataSource* TDBGridModel::DataSource() const { return link_->DataSource(); }

void TDBGridModel::SetDataSource(TDataSource* source) {
  link_->SetDataSource(source);
  ResetRows();
}

void TDBGridModel::SetColumns(const std::vector<std::string>& fieldNames) {
  columnNames_ = fieldNames;
  ResetRows();
}

void TDBGridModel::SetBatchSize(int rows) {
  batchSize_ = std::max(rows, 1);
  ResetRows();
}

void TDBGridModel::SetCachePages(int pages) {
  cachePages_ = std::max(pages, 1);
  while (static_cast<int>(cache_.size()) > cachePages_) {
    auto oldest = std::min_element(cache_.begin(), cache_.end(), [](const auto& a, const auto& b) {
      return a.second.lastUse < b.second.lastUse;
    });
    cache_.erase(oldest);
  }
}

TDataSet* TDBGridModel::ActiveDataSet() const {
  TDataSet* dataSet = link_->DataSet();
  return (link_->Active() && dataSet && dataSet->Active()) ? dataSet : nullptr;
}

TDataSet* TDBGridModel::ReadableDataSet() const {
  // While the dataset's controls are disabled (a long operation such as an
  // index build runs) nothing is read; the change that follows resets.
  TDataSet* dataSet = ActiveDataSet();
  return (dataSet && !dataSet->ControlsDisabled()) ? dataSet : nullptr;
}

TField* TDBGridModel::ColumnField(int column) const {
  if (column < 0 || column >= static_cast<int>(columns_.size())) return nullptr;
  return columns_[column];
}

void TDBGridModel::ResolveColumns(std::vector<TField*>& out) const {
  out.clear();
  TDataSet* dataSet = ActiveDataSet();
  if (!dataSet) return;
  if (columnNames_.empty()) {
    for (int32_t i = 0; i < dataSet->FieldCount(); ++i)
      if (dataSet->Fields(i)->Visible()) out.push_back(dataSet->Fields(i));
  } else {
    for (const std::string& name : columnNames_) out.push_back(dataSet->FindField(name));
  }
}

void TDBGridModel::ResetRows() {
  std::vector<TField*> columns;
  ResolveColumns(columns);
  // Nothing was fetched since the last reset: the view has not seen any row
  // yet, so one reset covers this change as well.
  bool untouched = rowCount_ == 0 && !atEnd_ && cache_.empty() && pageEnds_.empty();
  if (untouched && columns == columns_) return;
  beginResetModel();
  columns_ = std::move(columns);
  rowCount_ = 0;
  atEnd_ = false;
  pageEnds_.clear();
  cache_.clear();
  endResetModel();
}

namespace {

// Code page 1251 to UTF-16, one entry per byte.
struct AnsiTable {
  char16_t unicode[256];
  AnsiTable() {
    for (int b = 0; b < 256; ++b)
      unicode[b] = platform::ToUnicode(platform::CodePage::Cp1251, static_cast<uint8_t>(b));
  }
};

const char16_t* AnsiToUnicode() {
  static const AnsiTable table;
  return table.unicode;
}

}  // namespace

QString TDBGridModel::FromAnsi(std::string_view bytes) {
  const char16_t* table = AnsiToUnicode();
  QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
  QChar* out = text.data();
  for (size_t i = 0; i < bytes.size(); ++i) out[i] = QChar(table[static_cast<uint8_t>(bytes[i])]);
  return text;
}

QString TDBGridModel::Page::Cell(size_t cell) const {
  if (cell >= ends.size()) return QString();
  const int32_t start = cell == 0 ? 0 : ends[cell - 1];
  return QString(texts.constData() + start, ends[cell] - start);
}

void TDBGridModel::Page::Clear() {
  texts.truncate(0);  // keeps the block for the next page
  ends.clear();
  marks.clear();
  lastUse = 0;
}

void TDBGridModel::ReadRow(Page& page) const {
  const char16_t* table = AnsiToUnicode();
  for (TField* field : columns_) {
    if (field) {
      field->ReadDisplayText(scratch_);
      const qsizetype start = page.texts.size();
      page.texts.resize(start + static_cast<qsizetype>(scratch_.size()));
      QChar* out = page.texts.data() + start;
      for (size_t i = 0; i < scratch_.size(); ++i)
        out[i] = QChar(table[static_cast<uint8_t>(scratch_[i])]);
    }
    page.ends.push_back(static_cast<int32_t>(page.texts.size()));
  }
}

void TDBGridModel::Remember(int pageIndex, Page page) const {
  page.lastUse = ++useClock_;
  cache_[pageIndex] = std::move(page);
  while (static_cast<int>(cache_.size()) > cachePages_) {
    auto oldest = std::min_element(cache_.begin(), cache_.end(), [](const auto& a, const auto& b) {
      return a.second.lastUse < b.second.lastUse;
    });
    spare_ = std::move(oldest->second);
    cache_.erase(oldest);
  }
}

const TDBGridModel::Page* TDBGridModel::PageAt(int pageIndex) const {
  auto it = cache_.find(pageIndex);
  if (it != cache_.end()) {
    it->second.lastUse = ++useClock_;
    return &it->second;
  }
  TDataSet* dataSet = ReadableDataSet();
  if (!dataSet || pageIndex < 0 || pageIndex > static_cast<int>(pageEnds_.size())) return nullptr;
  const int expected = std::min(batchSize_, rowCount_ - pageIndex * batchSize_);
  if (expected <= 0) return nullptr;
  Page page = std::move(spare_);
  page.Clear();
  page.marks.reserve(static_cast<size_t>(expected));
  page.ends.reserve(static_cast<size_t>(expected) * columns_.size());
  const TBookmark after = pageIndex == 0 ? TBookmark() : pageEnds_[pageIndex - 1];
  dataSet->ScanRecords(after, expected, [&](const TBookmark& mark) {
    page.marks.push_back(mark);
    ReadRow(page);
  });
  // Records may have gone meanwhile: the missing rows show empty until the
  // next reset.
  page.marks.resize(expected);
  page.ends.resize(static_cast<size_t>(expected) * columns_.size(), static_cast<int32_t>(page.texts.size()));
  Remember(pageIndex, std::move(page));
  return &cache_[pageIndex];
}

int TDBGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rowCount_;
}

int TDBGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TDBGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount_ || index.column() >= columnCount()) return {};
  if (role == Qt::TextAlignmentRole) {
    TField* field = columns_[index.column()];
    bool right = field && field->Alignment() == platform::taRightJustify;
    return QVariant::fromValue(Qt::Alignment(right ? Qt::AlignRight | Qt::AlignVCenter
                                                   : Qt::AlignLeft | Qt::AlignVCenter));
  }
  if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
  const Page* page = PageAt(index.row() / batchSize_);
  if (!page) return {};
  size_t cell = static_cast<size_t>(index.row() % batchSize_) * columns_.size() + index.column();
  return page->Cell(cell);
}

QVariant TDBGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole && role != kDisplayWidthRole) return {};
  if (orientation == Qt::Vertical) return role == Qt::DisplayRole ? QVariant(section + 1) : QVariant();
  if (section < 0 || section >= static_cast<int>(columns_.size())) return {};
  if (role == kDisplayWidthRole) {
    if (TField* field = columns_[section]) return field->DisplayWidth();
    return {};
  }
  if (TField* field = columns_[section]) return FromAnsi(field->DisplayLabel());
  if (section < static_cast<int>(columnNames_.size())) return FromAnsi(columnNames_[section]);
  return {};
}

Qt::ItemFlags TDBGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

bool TDBGridModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && !atEnd_ && ReadableDataSet() != nullptr;
}

void TDBGridModel::fetchMore(const QModelIndex& parent) {
  if (!canFetchMore(parent)) return;
  TDataSet* dataSet = ReadableDataSet();
  if (rowCount_ == 0 && pageEnds_.empty()) {
    // A record set that counts its rows without reading them gives all of
    // them at once, with where each page ends: any page is then read
    // straight from the end of the page before, without the rows between.
    std::vector<TBookmark> ends;
    const int32_t count = dataSet->CountRecords(batchSize_, ends);
    if (count >= 0) {
      atEnd_ = true;
      if (count == 0) return;
      beginInsertRows(QModelIndex(), 0, count - 1);
      rowCount_ = count;
      pageEnds_ = std::move(ends);
      endInsertRows();
      return;
    }
  }
  // Only whole pages precede the fetch point, so the new rows start a page.
  // Fetching only counts the rows and remembers where the page ends; the
  // cells are read when the view asks for them (PageAt).
  TBookmark last;
  const TBookmark after = pageEnds_.empty() ? TBookmark() : pageEnds_.back();
  int read = dataSet->SkipRecords(after, batchSize_, last);
  if (read < batchSize_) atEnd_ = true;
  if (read == 0) return;
  beginInsertRows(QModelIndex(), rowCount_, rowCount_ + read - 1);
  rowCount_ += read;
  pageEnds_.push_back(std::move(last));
  endInsertRows();
}

bool TDBGridModel::MakeCurrent(int row) {
  TDataSet* dataSet = ReadableDataSet();
  if (!dataSet || row < 0 || row >= rowCount_) return false;
  const Page* page = PageAt(row / batchSize_);
  if (!page) return false;
  const TBookmark& mark = page->marks[row % batchSize_];
  if (mark.empty()) return false;
  TBookmark target = mark;  // the page may be dropped by what follows
  // Leaving edit state may post and refetch: that change resets the model.
  dataSet->CheckBrowseMode();
  moving_ = true;
  try {
    dataSet->GotoBookmark(target);
  } catch (...) {
    moving_ = false;
    throw;
  }
  moving_ = false;
  return true;
}

int TDBGridModel::CurrentRow() const {
  TDataSet* dataSet = ActiveDataSet();
  if (!dataSet) return -1;
  TBookmark current = dataSet->GetBookmark();
  if (current.empty()) return -1;
  for (const auto& [pageIndex, page] : cache_) {
    for (size_t i = 0; i < page.marks.size(); ++i)
      if (page.marks[i] == current) return pageIndex * batchSize_ + static_cast<int>(i);
  }
  return -1;
}

void TDBGridModel::RecordChanged(TField* field) {
  // A field of the current record changed (editing): its row, when cached,
  // is read again - calculated columns may follow the changed field.
  if (!field) return;
  int row = CurrentRow();
  if (row < 0) return;
  auto it = cache_.find(row / batchSize_);
  if (it == cache_.end()) return;
  Page fresh;
  ReadRow(fresh);
  // Splice the row's new texts into the page's block.
  Page& page = it->second;
  const size_t columns = columns_.size();
  const size_t first = static_cast<size_t>(row % batchSize_) * columns;
  if (first + columns > page.ends.size()) return;
  const int32_t start = first == 0 ? 0 : page.ends[first - 1];
  const int32_t end = page.ends[first + columns - 1];
  page.texts.replace(start, end - start, fresh.texts);
  const int32_t shift = static_cast<int32_t>(fresh.texts.size()) - (end - start);
  for (size_t c = 0; c < columns; ++c) page.ends[first + c] = start + fresh.ends[c];
  for (size_t i = first + columns; i < page.ends.size(); ++i) page.ends[i] += shift;
  emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}
