// The message table and its formatter.
#include "engine/support/gs6_glbl.h"

namespace {

constexpr const char* kMessages[kMessageCount] = {
    "Invalid date in field %s",
    "There is no field name %s",
    "Invalid %s value for field %s",
    "Field %s is the incorrect type",
    "Memo record is bad in %s",
    "Record number %d is not in table %s",
    "Table Header for %s is invalid",
    "Index file %s is corrupted",
    "Cannot find index tag %s",
    "Could not lock indexes for Table %s",
    "A Password is included for unencrypted file %s",
    "No Password for encrypted file %s",
    "Invalid Password for encrypted file %s",
    "A value is required for %s",
    "All arguments for %s must be of the same type",
    "Field/variable %s is unknown",
    "Expression cannot be evaluated",
    "Missing closing parentheses",
    "Missing closing period",
    "Missing closing \"%s\" on literal",
    "Expecting \".T.\" or \".F.\"",
    "Syntax Error in expression \"%s\"",
    "Variant type is not valid for append",
    "Variant types mismatch for compare",
    "Variant type cannot be sorted",
    "Sort key length must be 1-%d bytes, is %d",
    "Cannot add sort keys after beginning retrieval",
    "Invalid numeric value in field %s",
    "numeric value too big in field %s",
    "File %s could not be found",
    "Error on Read of file %s",
    "Error in Close of file %s",
    "Error on Rename of file %s",
    "Access denied to file %s",
    "Could not create file %s",
    "%s requires full access to file %s",
    "Error in Truncate of file %s",
    "Error in Unlock of file %s",
    "Error writing to %s",
    "There is no function for %s",
    "%s needed for Argument %d of %s",
    "Argument for %s must be %s",
    "Target value missing for %s operation",
    "The two sides of an operation do not match",
    "A %s value is required but invalid",
    "Error getting %s",
    "Index file %s already open",
    "Record request beyond range of table",
    "Cannot delete the record",
    "Cannot recall the record",
    "Bookmark is invalid for table ",
    "Record is locked by another user",
    "Table is busy building an index",
    "Table is busy copying",
    "Filter expression must return boolean result",
    "Dataset not in edit or insert mode",
    "Master/Detail relation failed, no index open for %s",
    "Master/Detail relation failed, field missmatch for %s",
    "Error getting FileSize for file %s",
    "Error on Flush for file %s",
    "Can not Lock file %s",
};

}  // namespace

const char* MessageText(Msg id) {
  int i = static_cast<int>(id);
  return (i >= 0 && i < kMessageCount) ? kMessages[i] : "";
}

std::string FormatMessage(Msg id, const std::vector<MsgArg>& args) {
  std::string out;
  size_t next = 0;
  for (const char* p = MessageText(id); *p; ++p) {
    if (p[0] == '%' && (p[1] == 's' || p[1] == 'd')) {
      if (next < args.size()) {
        const MsgArg& a = args[next++];
        out += a.isInt ? std::to_string(a.number) : a.text;
      }
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}
