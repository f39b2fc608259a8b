// TDM: the data module.
#include "app/UnitDM.h"

#include "platform/db_fields.h"

TDM::TDM(QObject* parent) : TDM(parent, true) {}

TDM::TDM(QObject* parent, bool openTable) : QObject(parent) {
  setObjectName(QStringLiteral("DM"));
  CreateComponents();
  // The table's Active setting is stored as true: it opens once the module's
  // components have their settings, before the create handler runs. An
  // exception here leaves the constructor, so no module is created.
  if (openTable) tblVemaron->Open();
  DataModuleCreate();
}

TDM::~TDM() {
  // The data source lets go of the dataset before the dataset closes.
  if (dsVemaron) dsVemaron->SetDataSet(nullptr);
  if (tblVemaron) tblVemaron->Close();
}

void TDM::CreateComponents() {
  tblVemaron = std::make_unique<TDeridarDataSet>();
  TDeridarDataSet& table = *tblVemaron;
  // Settings as a stored form loads them: while loading, setting the table
  // name keeps the (empty) index list.
  table.SetLoading(true);
  table.SetAutoFlush(false);
  table.SetDatabaseName({});  // no folder: the name is resolved against the working directory
  table.SetExclusive(false);
  table.SetLargeIntegerAs(TgsIntFields::asInteger);
  table.SetLockProtocol(TgsLokProtocol::Default);
  table.SetReadOnly(true);
  table.SetTableName("PHONE.DBF");
  table.SetTranslateASCII(true);
  table.SetUseDeleted(false);
  table.SetUserID(0);
  tblVemaronNUM = table.CreateField<platform::TStringField>("NUM", 7);
  tblVemaronFIO = table.CreateField<platform::TStringField>("FIO", 35);
  tblVemaronADR = table.CreateField<platform::TStringField>("ADR", 35);
  tblVemaronTIP = table.CreateField<platform::TSmallintField>("TIP");
  table.SetLoading(false);

  dsVemaron = std::make_unique<platform::TDataSource>();
  dsVemaron->SetDataSet(tblVemaron.get());
}

void TDM::OpenIndexes(const std::string& files, const std::string& tag) { tblVemaron->OpenIndexes(files, tag); }

void TDM::SetRange(const std::string& low, const std::string& high) { tblVemaron->SetRange(low, high); }

void TDM::MoveFirst() { tblVemaron->MoveFirst(); }

void TDM::IndexOn(const std::string& file, const std::string& tag, const std::string& key,
                  const std::string& condition, int unique, int order) {
  tblVemaron->IndexOn(file, tag, key, condition, unique, order);
}
