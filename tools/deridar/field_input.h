// What the writing verbs (import, set, delete, recall) share: the table
// opened for writing with its index files kept in step, the code page its
// texts are written in, values typed in UTF-8 checked against their field
// and stored into the record image, and the progress line of long runs.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/table/gs6_dbsy.h"
#include "platform/codepage.h"

// Opens the table shared for reading and writing (with the password given
// to the tool) and the listed index files, which the handler then keeps in
// step with every write.
std::unique_ptr<GSO_dBHandler> OpenTableForWriting(const std::string& name,
                                                   const std::vector<std::string>& indexFiles);

// The code page of the table's texts: `encoding` ("866" or "1251") when
// given, else the one its language byte names (866 when that is not 1251).
// A wrong encoding is a usage error.
platform::CodePage TableCodePage(const GSO_dBaseDBF& table, const std::string& encoding);

// A value refused for its field; the message says why.
struct ValueError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A value checked against field `field` of the table, ready to be stored:
// the field's bytes (texts in the table's code page; for memo fields the
// memo text).
struct CheckedValue {
  int32_t field = 0;
  std::string bytes;
};

// Checks `utf8` against the field: texts must be representable in the code
// page and fit the field; numbers are decimals that fit the field's length
// and decimals; dates are YYYYMMDD or dd.mm.yyyy and exist; logicals are
// T/F, Y/N, .T./.F., true/false or 1/0. An empty value blanks the field.
// Raises ValueError.
CheckedValue CheckValue(GSO_dBaseFld& table, int32_t field, std::string_view utf8,
                        platform::CodePage codePage);
// The same into `checked`, whose buffer is reused: checking a run of rows
// this way allocates nothing.
void CheckValue(GSO_dBaseFld& table, int32_t field, std::string_view utf8, platform::CodePage codePage,
                CheckedValue& checked);

// Stores checked values into the current record image; memo texts are
// written to the memo file (only what comes after every check has passed).
void StoreValues(GSO_dBaseFld& table, const std::vector<CheckedValue>& values);
void StoreValue(GSO_dBaseFld& table, const CheckedValue& value);

// The field's name as "NAME" for messages.
std::string FieldLabel(GSO_dBaseFld& table, int32_t field);

// One updating line on standard error ("import: 42% (420000 of 1000000)")
// for work on tables of more than 100,000 records, shown only when
// standard error is a terminal; `total` steps make 100%.
class ProgressLine {
 public:
  ProgressLine(std::string what, int64_t total, int64_t tableRecords);
  ~ProgressLine();
  void Step(int64_t done);

 private:
  std::string what_;
  int64_t total_;
  bool shown_;
  int lastPercent_ = -1;
};

// The table handler of the verbs that build index tags: its progress
// reports (phase 1 reading records, phase 2 writing keys) drive a progress
// line named `what`.
class ProgressReportingHandler : public GSO_dBHandler {
 public:
  ProgressReportingHandler(const std::string& fileName, const std::string& password, bool shared,
                           bool readWrite, std::string what = "index")
      : GSO_dBHandler(fileName, password, shared, readWrite), what_(std::move(what)) {}

  void StatusReport(int32_t stat1, int32_t stat2, int32_t stat3) override;

 private:
  std::string what_;
  std::unique_ptr<ProgressLine> line_;
};
