// A data module that records what the windows ask of the table, one line
// per call, texts shown in UTF-8: "OpenIndexes(TELN.CDX,TELN)",
// "SetKeyPrefix(23)", "MoveFirst", "IndexOn(TELF.CDX,TELF,FIO,tip=1,1,0)",
// "SetCategoryFilter(1,FIO,ИВ)". Every index file checks out (its key
// count is the table's count of its category), so the splash builds only
// missing ones.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/UnitDM.h"
#include "platform/codepage.h"

class RecordingDM : public TDM {
 public:
  // The module's components without opening the table.
  RecordingDM() : TDM(nullptr, false) {}

  std::vector<std::string> calls;
  // Runs after IndexOn is recorded (to make it fail, for instance).
  std::function<void()> onIndexOn;

  void OpenIndexes(const std::string& files, const std::string& tag) override {
    calls.push_back("OpenIndexes(" + files + "," + tag + ")");
  }
  void SetRange(const std::string& low, const std::string& high) override {
    calls.push_back("SetRange(" + platform::ToUtf8(low, platform::CodePage::Cp1251) + "," +
                    platform::ToUtf8(high, platform::CodePage::Cp1251) + ")");
  }
  void SetKeyPrefix(const std::string& prefix) override {
    calls.push_back("SetKeyPrefix(" + platform::ToUtf8(prefix, platform::CodePage::Cp1251) + ")");
  }
  void SetCategoryFilter(int tip, const std::string& keyField, const std::string& prefix) override {
    calls.push_back("SetCategoryFilter(" + std::to_string(tip) + "," + keyField + "," +
                    platform::ToUtf8(prefix, platform::CodePage::Cp1251) + ")");
  }
  int64_t IndexKeyCount(const std::string&, const std::string&) override { return 0; }
  std::map<int, int64_t> CategoryRecordCounts() override { return {}; }
  void MoveFirst() override { calls.push_back("MoveFirst"); }
  void IndexOn(const std::string& file, const std::string& tag, const std::string& key, const std::string& condition,
               int unique, int order) override {
    calls.push_back("IndexOn(" + file + "," + tag + "," + key + "," + condition + "," + std::to_string(unique) +
                    "," + std::to_string(order) + ")");
    if (onIndexOn) onIndexOn();
  }
};
