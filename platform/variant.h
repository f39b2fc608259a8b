// The platform's tagged value: null, text, number, date or boolean. Callers
// hand such values to the engine where a record is built from loose values
// (search records for locate and lookup).
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace platform {

// A calendar date as a date serial (days since 30 Dec 1899).
struct TVariantDate {
  int32_t serial = 0;
  bool operator==(const TVariantDate&) const = default;
};

using TVariant = std::variant<std::monostate, std::string, double, TVariantDate, bool>;

inline bool VariantIsNull(const TVariant& v) { return std::holds_alternative<std::monostate>(v); }

// The value as the locale writes it: text as is, numbers in the general form
// with the locale's decimal separator, dates in the short date format,
// booleans "T"/"F", null as the empty text.
std::string VariantToText(const TVariant& v);

}  // namespace platform
