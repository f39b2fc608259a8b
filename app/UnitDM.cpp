// TDM: the data module.
#include "app/UnitDM.h"

TDM::TDM(QObject* parent) : QObject(parent) {
  setObjectName(QStringLiteral("DM"));
  DataModuleCreate();
}
