#include "tools/deridar/record_csv.h"

#include <cstdio>
#include <cstring>

#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbf_field.h"

namespace {

std::string_view Trimmed(std::string_view text, bool leadingToo) {
  size_t end = text.find_last_not_of(' ');
  text = end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
  if (leadingToo) {
    size_t start = text.find_first_not_of(' ');
    text = start == std::string_view::npos ? std::string_view() : text.substr(start);
  }
  return text;
}

}  // namespace

void WriteOut(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

std::string ExpressionBytes(const std::string& utf8) {
  return platform::FromUtf8(utf8, platform::CodePage::Cp866);
}

void RaiseDecoded(const std::exception& e) {
  if (dynamic_cast<const EDeridarBase*>(&e))
    throw std::runtime_error(platform::ToUtf8(e.what(), platform::CodePage::Cp866));
  throw;
}

RecordCsvWriter::RecordCsvWriter(GSO_dBaseFld& table, platform::CodePage codePage,
                                 bool rawBytes, bool withDeleted)
    : table_(table), codePage_(codePage), rawBytes_(rawBytes), withDeleted_(withDeleted) {
  for (int32_t n = 1; n <= table.FieldCount(); ++n) {
    const uint8_t* d = table.FieldDescriptor(n);
    Column c;
    c.name.assign(reinterpret_cast<const char*>(d), strnlen(reinterpret_cast<const char*>(d), 11));
    c.type = static_cast<char>(d[11]);
    c.offset = static_cast<int32_t>(d[12] | (d[13] << 8) | (d[14] << 16) | (d[15] << 24));
    c.length = table.DescriptorLength(n);
    c.binary = table.IsBinaryField(n);
    c.memo = table.IsMemoField(n) && table.HasMemo();  // the memo file is opened when read
    columns_.push_back(c);
  }
}

std::string RecordCsvWriter::Decode(std::string_view bytes) const {
  return rawBytes_ ? std::string(bytes) : platform::ToUtf8(bytes, codePage_);
}

void RecordCsvWriter::AppendField(std::string_view value) {
  bool quote = value.find_first_of(",\"\r\n") != std::string_view::npos;
  if (!quote) {
    out_.append(value);
    return;
  }
  out_.push_back('"');
  for (char c : value) {
    if (c == '"') out_.push_back('"');
    out_.push_back(c);
  }
  out_.push_back('"');
}

void RecordCsvWriter::WriteHeader() {
  if (withDeleted_) out_ += "_deleted";
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (i > 0 || withDeleted_) out_.push_back(',');
    AppendField(Decode(columns_[i].name));
  }
  out_ += "\r\n";
}

void RecordCsvWriter::WriteRecord() {
  const char* record = table_.CurrentRecord();
  if (withDeleted_) out_ += record[0] == '*' ? "1" : "0";
  for (size_t i = 0; i < columns_.size(); ++i) {
    const Column& c = columns_[i];
    int32_t n = static_cast<int32_t>(i) + 1;
    if (i > 0 || withDeleted_) out_.push_back(',');
    if (c.memo) {
      // The memo text, kept whole: its blanks and line ends are content.
      AppendField(Decode(table_.ReadMemo(n)));
    } else if (c.binary) {
      AppendField(table_.GetDisplayText(n));
    } else {
      bool numeric = c.type == 'N' || c.type == 'F';
      AppendField(Decode(Trimmed(std::string_view(record + c.offset, c.length), numeric)));
    }
  }
  out_ += "\r\n";
  if (out_.size() > (1 << 16)) {
    WriteOut(out_);
    out_.clear();
  }
}

bool RecordCsvWriter::Finish() {
  WriteOut(out_);
  out_.clear();
  return std::fflush(stdout) == 0;
}
