// Text form of the platform's tagged value.
#include "platform/variant.h"

#include "platform/locale.h"

namespace platform {

std::string VariantToText(const TVariant& v) {
  struct Visitor {
    std::string operator()(std::monostate) const { return {}; }
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(double d) const { return FloatToText(d); }
    std::string operator()(TVariantDate d) const {
      return FormatDate(Locale().shortDateFormat, d.serial);
    }
    std::string operator()(bool b) const { return b ? "T" : "F"; }
  };
  return std::visit(Visitor{}, v);
}

}  // namespace platform
