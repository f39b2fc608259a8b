// TDM: the data module.
#include "app/UnitDM.h"

#include <QDir>
#include <QStringList>

#include <charconv>
#include <string_view>
#include <vector>

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

QString TDM::OpenFailureText() {
  const QDir folder = QDir::current();
  const QString where = QDir::toNativeSeparators(folder.absolutePath());
  // The table's name in any case (files copied from other systems).
  const QStringList present =
      folder.entryList({QStringLiteral("PHONE.DBF")}, QDir::Files | QDir::CaseSensitive | QDir::Hidden);
  const QStringList anyCase = folder.entryList({QStringLiteral("phone.dbf")}, QDir::Files | QDir::Hidden);
  if (present.isEmpty() && anyCase.isEmpty()) {
    return QStringLiteral(u"Не найдена таблица справочника PHONE.DBF в папке «%1».\n\n"
                          u"Запустите программу из папки, в которой лежит PHONE.DBF, "
                          u"или скопируйте справочник в эту папку.")
        .arg(where);
  }
  return QStringLiteral(u"Не удалось открыть таблицу справочника PHONE.DBF в папке «%1».\n\n"
                        u"Файл повреждён или недоступен для чтения. Проверьте права на файл "
                        u"или скопируйте справочник заново.")
      .arg(where);
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

void TDM::SetKeyPrefix(const std::string& prefix) {
  if (prefix.empty()) {
    tblVemaron->SetRange({}, {});
    return;
  }
  // One bound for both ends: a key that begins with the low bound is in
  // range, and with the high bound taken as a prefix so is one that begins
  // with it and goes on - exactly the keys that begin with the prefix.
  const std::string key = tblVemaron->TranslateText(std::string_view(prefix).substr(0, 255), true);
  tblVemaron->SetRangeEx(key, key, true, true, true);
}

void TDM::MoveFirst() { tblVemaron->MoveFirst(); }

void TDM::SetCategoryFilter(int tip, const std::string& keyField, const std::string& prefix) {
  TDeridarDataSet& table = *tblVemaron;
  if (tip == 0) {
    if (!table.Filtered()) return;
    table.SetFiltered(false);
    table.OnFilterRecord = nullptr;
    return;
  }
  platform::TField* key = table.FieldByName(keyField);
  platform::TField* category = tblVemaronTIP;
  table.OnFilterRecord = [key, category, tip, prefix](platform::TDataSet&, bool& accept) {
    accept = category->AsInteger() == tip && key->AsString().compare(0, prefix.size(), prefix) == 0;
  };
  // Switching the filter on again reads the rows anew under the new test.
  if (table.Filtered()) table.SetFiltered(false);
  table.SetFiltered(true);
}

int64_t TDM::IndexKeyCount(const std::string& file, const std::string& tag) {
  // The grids do not follow the order opened for a look.
  tblVemaron->DisableControls();
  int64_t keys = 0;
  try {
    tblVemaron->OpenIndexes(file, tag);
    if (GSobjIndexTag* current = tblVemaron->Table()->CurrentTag()) keys = current->CountKeys();
  } catch (...) {
    tblVemaron->OpenIndexes({}, {});
    tblVemaron->EnableControls();
    throw;
  }
  tblVemaron->OpenIndexes({}, {});
  tblVemaron->EnableControls();
  return keys;
}

std::map<int, int64_t> TDM::CategoryRecordCounts() {
  DBFObject& table = *tblVemaron->Table();
  std::map<int, int64_t> counts;
  for (const auto& [text, records] : table.CountFieldTexts(table.FieldNumber("TIP"))) {
    int tip = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), tip);
    if (error == std::errc() && end == text.data() + text.size()) counts[tip] += records;
  }
  return counts;
}

void TDM::IndexOn(const std::string& file, const std::string& tag, const std::string& key,
                  const std::string& condition, int unique, int order) {
  tblVemaron->IndexOn(file, tag, key, condition, unique, order);
}
