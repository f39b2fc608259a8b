// Helpers of the grid model's tests: failing on every warning Qt reports
// (the item model tester reports broken contracts as warnings), and
// fetching every row a model can give.
#pragma once

#include <QAbstractItemModel>
#include <QtGlobal>

#include <gtest/gtest.h>

// Turns every warning Qt reports while it lives into a test failure.
class WarningsFail {
 public:
  WarningsFail() { previous_ = qInstallMessageHandler(&Handler); }
  ~WarningsFail() { qInstallMessageHandler(previous_); }

 private:
  static void Handler(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtDebugMsg && type != QtInfoMsg) ADD_FAILURE() << text.toStdString();
  }
  QtMessageHandler previous_;
};

inline void FetchAll(QAbstractItemModel& model) {
  while (model.canFetchMore(QModelIndex())) model.fetchMore(QModelIndex());
}
