// TDM: the data module, the viewer's one way to the directory table. It
// will hold the table `tblVemaron` (PHONE.DBF, read-only, shared, texts
// translated between the OEM and ANSI code pages) and its data source
// `dsVemaron`, opened as soon as the module is created.
//
// The operations below are what the windows ask of the table. Until the
// table is attached they do nothing; they are virtual so that the windows
// can be exercised against a stand-in.
#pragma once

#include <QObject>

#include <string>

class TDM : public QObject {
  Q_OBJECT

 public:
  explicit TDM(QObject* parent = nullptr);

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
};
