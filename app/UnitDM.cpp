// TDM: the data module.
#include "app/UnitDM.h"

TDM::TDM(QObject* parent) : QObject(parent) {
  setObjectName(QStringLiteral("DM"));
  DataModuleCreate();
}

void TDM::OpenIndexes(const std::string&, const std::string&) {}

void TDM::SetRange(const std::string&, const std::string&) {}

void TDM::MoveFirst() {}

void TDM::IndexOn(const std::string&, const std::string&, const std::string&, const std::string&, int, int) {}
