// TDM: the data module, the viewer's one way to the directory table. It
// owns the table `tblVemaron` (PHONE.DBF in the current working directory,
// read-only, shared, texts translated between the OEM and ANSI code pages,
// four persistent fields NUM, FIO, ADR, TIP) and its data source
// `dsVemaron`, which the grids read through. The table is opened as soon as
// the module is created; a table that cannot be opened makes the creation
// fail with the dataset's error.
//
// The operations below are what the windows ask of the table; they are
// virtual so that the windows can be exercised against a stand-in.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "dataset/Razuz6oz.h"
#include "platform/db.h"

class TDM : public QObject {
  Q_OBJECT

 public:
  // Creates the module with its stored settings and opens the table.
  explicit TDM(QObject* parent = nullptr);
  ~TDM() override;

  // The module's create handler; it does nothing.
  void DataModuleCreate() {}

  // What the user is told, in Russian, when the table cannot be opened
  // from the current working directory: which file in which folder, and
  // what to do about it. The engine's message goes into the details.
  static QString OpenFailureText();

  // Closes every open index file, opens the listed ones and makes `tag` the
  // current order; empty texts leave the table in record order.
  virtual void OpenIndexes(const std::string& files, const std::string& tag);
  // Restricts the current order to the keys from `low` to `high` (texts in
  // code page 1251); two empty texts remove the range.
  virtual void SetRange(const std::string& low, const std::string& high);
  // Narrows the current order to the keys that begin with `prefix` (code
  // page 1251), keys that go on after it included; an empty prefix removes
  // the range. Moves to the first record of the new range.
  virtual void SetKeyPrefix(const std::string& prefix);
  // Moves to the first record of the current order and range.
  virtual void MoveFirst();
  // Shows only the records of category `tip` whose field `keyField` begins
  // with `prefix` (code page 1251), in the current order; tip 0 shows
  // every record again. For a page whose index file cannot be used.
  virtual void SetCategoryFilter(int tip, const std::string& keyField, const std::string& prefix);
  // Opens one index file and its tag, counts the tag's keys (every key of
  // the tag, from its leaves) and closes it again: fails with the engine's
  // error when the file cannot be read or its tree is damaged. No index is
  // left open.
  virtual int64_t IndexKeyCount(const std::string& file, const std::string& tag);
  // The table's records per category (TIP value), counted in one pass over
  // the file: every record, those marked deleted too, as the index files
  // hold a key for each. Records whose TIP is not a whole number are not
  // counted.
  virtual std::map<int, int64_t> CategoryRecordCounts();
  // Builds one tag into an index file (created when missing).
  virtual void IndexOn(const std::string& file, const std::string& tag, const std::string& key,
                       const std::string& condition, int unique, int order);

  // ---- Components ----
  std::unique_ptr<TDeridarDataSet> tblVemaron;
  platform::TField* tblVemaronNUM = nullptr;
  platform::TField* tblVemaronFIO = nullptr;
  platform::TField* tblVemaronADR = nullptr;
  platform::TField* tblVemaronTIP = nullptr;
  std::unique_ptr<platform::TDataSource> dsVemaron;

 protected:
  // A module with its components configured but the table left closed
  // (`openTable` false), for stand-ins that never touch the table.
  TDM(QObject* parent, bool openTable);

 private:
  // Gives the components their stored settings.
  void CreateComponents();
};
