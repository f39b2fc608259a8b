// Expression evaluation against hand-written C++: evaluates an index key
// ("UPPER(NAME) + STR(NUM, 7)") and a FOR condition ("TIP = 1 .AND. NUM >
// 500000") over 1,000,000 generated records, compiled once, and computes the
// same results directly in the same run.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/expr/gs6_sql.h"
#include "platform/ansi.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

struct Record {
  std::string name;
  double num;
  double tip;
};

// A field that reads the current record.
class RecordField : public TgsUserDefFieldVar {
 public:
  enum Which { kName, kNum, kTip };
  RecordField(const char* name, Which which, const Record** current)
      : TgsUserDefFieldVar(name, which == kName ? 35 : 7), which_(which), current_(current) {}
  int32_t VariableKind() const override { return kTableFieldKind; }
  TgsExpValueType GetValue(TgsExpValue& value) override {
    const Record& r = **current_;
    if (which_ == kName) {
      value.SetText(r.name);
      return TgsExpValueType::Text;
    }
    value.SetDouble(which_ == kNum ? r.num : r.tip);
    return TgsExpValueType::Number;
  }

 private:
  Which which_;
  const Record** current_;
};

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1000000;
  std::mt19937 rng(42);
  std::vector<Record> records(static_cast<size_t>(count));
  for (Record& r : records) {
    r.name = std::string(35, ' ');
    for (int i = 0; i < 12; ++i) r.name[static_cast<size_t>(i)] = static_cast<char>('a' + rng() % 26);
    r.num = static_cast<double>(rng() % 1000000);
    r.tip = static_cast<double>(1 + rng() % 3);
  }
  const Record* current = nullptr;
  TgsExpUserLink link;
  link.AddVariable(std::make_unique<RecordField>("NAME", RecordField::kName, &current));
  link.AddVariable(std::make_unique<RecordField>("NUM", RecordField::kNum, &current));
  link.AddVariable(std::make_unique<RecordField>("TIP", RecordField::kTip, &current));
  TgsExpHandler key(&link, false, "UPPER(NAME) + STR(NUM, 7)");
  TgsExpHandler condition(&link, false, "TIP = 1 .AND. NUM > 500000");

  auto start = Clock::now();
  uint64_t engineSum = 0;
  TgsExpValue value;
  for (const Record& r : records) {
    current = &r;
    condition.Evaluate(value);
    if (!value.AsBoolean()) continue;
    key.Evaluate(value);
    engineSum += static_cast<uint8_t>(value.Text()[0]) + value.Text().size();
  }
  const double engineSeconds = Seconds(start);

  start = Clock::now();
  uint64_t directSum = 0;
  char digits[32];
  for (const Record& r : records) {
    if (!(r.tip == 1 && r.num > 500000)) continue;
    std::string text = platform::UpperCase(r.name);
    std::snprintf(digits, sizeof digits, "%7.0f", r.num);
    text += digits;
    directSum += static_cast<uint8_t>(text[0]) + text.size();
  }
  const double directSeconds = Seconds(start);

  std::printf("records: %d\n", count);
  std::printf("compiled expressions: %.3f s\n", engineSeconds);
  std::printf("hand-written C++:     %.3f s\n", directSeconds);
  std::printf("ratio engine/direct:  %.2f\n", directSeconds > 0 ? engineSeconds / directSeconds : 0.0);
  std::printf("checksums %s\n", engineSum == directSum ? "match" : "DIFFER");
  return engineSum == directSum ? 0 : 1;
}
