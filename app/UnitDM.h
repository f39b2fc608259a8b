// TDM: the data module. It will hold the directory table `tblVemaron` and
// its data source `dsVemaron`, opened as soon as the module is created; for
// now it is an empty module that the start-up routine creates in its place.
#pragma once

#include <QObject>

class TDM : public QObject {
  Q_OBJECT

 public:
  explicit TDM(QObject* parent = nullptr);

  // The module's create handler; it does nothing.
  void DataModuleCreate() {}
};
