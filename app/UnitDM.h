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

  // Closes every open index file, opens the listed ones and makes `tag` the
  // current order; empty texts leave the table in record order.
  virtual void OpenIndexes(const std::string& files, const std::string& tag);
  // Restricts the current order to the keys from `low` to `high` (texts in
  // code page 1251); two empty texts remove the range.
  virtual void SetRange(const std::string& low, const std::string& high);
  // Moves to the first record of the current order and range.
  virtual void MoveFirst();
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
