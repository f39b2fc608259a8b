// The built-in function library of the expression engine: the system
// variables TRUE, FALSE and PI and the fifty-five functions every expression
// may call. One instance of each is registered in the process-wide
// registries the first time they are used (`GlobalFunctionReg`,
// `GlobalVariableReg` in gs6_sql.h) and lives until program end.
//
// Functions keep no state: what one call reads (a padding width, a pad
// character) lives in the call's own value cells.
#pragma once

#include <cstddef>
#include <string>

#include "engine/expr/gs6_sql.h"

// Longest text a function builds from a requested size (SPACE, LEFT, the
// padding functions, STR widths): larger requests are refused with a
// message instead of exhausting memory.
constexpr size_t kMaxFunctionText = size_t{1} << 24;

// --- System variables --------------------------------------------------------

class TgsSDVTrue : public TgsUserDefFieldVar {
 public:
  TgsSDVTrue() : TgsUserDefFieldVar("TRUE") {}
  TgsExpValueType GetValue(TgsExpValue& value) override;
};

class TgsSDVFalse : public TgsUserDefFieldVar {
 public:
  TgsSDVFalse() : TgsUserDefFieldVar("FALSE") {}
  TgsExpValueType GetValue(TgsExpValue& value) override;
};

class TgsSDVPi : public TgsUserDefFieldVar {
 public:
  TgsSDVPi() : TgsUserDefFieldVar("PI") {}
  TgsExpValueType GetValue(TgsExpValue& value) override;
};

// --- Functions ---------------------------------------------------------------
// Each class names its function and computes it from the call's arguments.

#define DERIDAR_UDF_BODY(name)                                            \
 public:                                                                  \
  std::string FunctionName() const override { return name; }             \
  TgsExpValueType Execute(TgsExpFunction& call, TgsExpValue& value) override;

// Text functions.
class TgsUDFAllTrim : public TgsUserDefFunction { DERIDAR_UDF_BODY("ALLTRIM") };
class TgsUDFLTrim : public TgsUserDefFunction { DERIDAR_UDF_BODY("LTRIM") };
class TgsUDFTrim : public TgsUserDefFunction { DERIDAR_UDF_BODY("TRIM") };
// RTRIM is TRIM under another name.
class TgsUDFRTrim : public TgsUDFTrim {
 public:
  std::string FunctionName() const override { return "RTRIM"; }
};
class TgsUDFUpper : public TgsUserDefFunction { DERIDAR_UDF_BODY("UPPER") };
class TgsUDFLower : public TgsUserDefFunction { DERIDAR_UDF_BODY("LOWER") };
class TgsUDFProper : public TgsUserDefFunction { DERIDAR_UDF_BODY("PROPER") };
class TgsUDFLeft : public TgsUserDefFunction { DERIDAR_UDF_BODY("LEFT") };
class TgsUDFRight : public TgsUserDefFunction { DERIDAR_UDF_BODY("RIGHT") };
class TgsUDFSubStr : public TgsUserDefFunction { DERIDAR_UDF_BODY("SUBSTR") };
class TgsUDFSpace : public TgsUserDefFunction { DERIDAR_UDF_BODY("SPACE") };
class TgsUDFLen : public TgsUserDefFunction { DERIDAR_UDF_BODY("LEN") };
class TgsUDFAt : public TgsUserDefFunction { DERIDAR_UDF_BODY("AT") };
class TgsUDFAtC : public TgsUserDefFunction { DERIDAR_UDF_BODY("ATC") };
class TgsUDFStrTran : public TgsUserDefFunction { DERIDAR_UDF_BODY("STRTRAN") };
class TgsUDFSoundex : public TgsUserDefFunction { DERIDAR_UDF_BODY("SOUNDEX") };
class TgsUDFAsc : public TgsUserDefFunction { DERIDAR_UDF_BODY("ASC") };
class TgsUDFChr : public TgsUserDefFunction { DERIDAR_UDF_BODY("CHR") };

// The padding functions share their argument reading; each child says
// where the text goes inside the padded width.
class TgsUDFPadMain : public TgsUserDefFunction {
 public:
  TgsExpValueType Execute(TgsExpFunction& call, TgsExpValue& value) override;

 protected:
  // The offset of a text of `length` inside `width` (length < width).
  virtual size_t TextOffset(size_t length, size_t width) const;
};
class TgsUDFPadC : public TgsUDFPadMain {
 public:
  std::string FunctionName() const override { return "PADC"; }

 protected:
  size_t TextOffset(size_t length, size_t width) const override;
};
class TgsUDFPadL : public TgsUDFPadMain {
 public:
  std::string FunctionName() const override { return "PADL"; }

 protected:
  size_t TextOffset(size_t length, size_t width) const override;
};
class TgsUDFPadR : public TgsUDFPadMain {
 public:
  std::string FunctionName() const override { return "PADR"; }
};

class TgsUDFStr : public TgsUserDefFunction { DERIDAR_UDF_BODY("STR") };
// STRZERO is STR with its leading blanks turned into zeros.
class TgsUDFStrZero : public TgsUDFStr {
 public:
  std::string FunctionName() const override { return "STRZERO"; }
  TgsExpValueType Execute(TgsExpFunction& call, TgsExpValue& value) override;
};

// Conversion and date functions.
class TgsUDFVal : public TgsUserDefFunction { DERIDAR_UDF_BODY("VAL") };
class TgsUDFCTOD : public TgsUserDefFunction { DERIDAR_UDF_BODY("CTOD") };
class TgsUDFDTOC : public TgsUserDefFunction { DERIDAR_UDF_BODY("DTOC") };
class TgsUDFDTOS : public TgsUserDefFunction { DERIDAR_UDF_BODY("DTOS") };
class TgsUDFDOW : public TgsUserDefFunction { DERIDAR_UDF_BODY("DOW") };
class TgsUDFDate : public TgsUserDefFunction { DERIDAR_UDF_BODY("DATE") };
class TgsUDFDescend : public TgsUserDefFunction { DERIDAR_UDF_BODY("DESCEND") };

// Numeric functions.
class TgsUDFAbsolute : public TgsUserDefFunction { DERIDAR_UDF_BODY("ABS") };
class TgsUDFInt : public TgsUserDefFunction { DERIDAR_UDF_BODY("INT") };
class TgsUDFCeiling : public TgsUserDefFunction { DERIDAR_UDF_BODY("CEILING") };
class TgsUDFFloor : public TgsUserDefFunction { DERIDAR_UDF_BODY("FLOOR") };
class TgsUDFMod : public TgsUserDefFunction { DERIDAR_UDF_BODY("MOD") };
class TgsUDFSin : public TgsUserDefFunction { DERIDAR_UDF_BODY("SIN") };
class TgsUDFCosine : public TgsUserDefFunction { DERIDAR_UDF_BODY("COS") };
class TgsUDFTan : public TgsUserDefFunction { DERIDAR_UDF_BODY("TAN") };
class TgsUDFArcSin : public TgsUserDefFunction { DERIDAR_UDF_BODY("ASIN") };
class TgsUDFArcCos : public TgsUserDefFunction { DERIDAR_UDF_BODY("ACOS") };
class TgsUDFArcTan : public TgsUserDefFunction { DERIDAR_UDF_BODY("ATAN") };
class TgsUDFArcTan2 : public TgsUserDefFunction { DERIDAR_UDF_BODY("ATN2") };
class TgsUDFDegToRad : public TgsUserDefFunction { DERIDAR_UDF_BODY("DTOR") };
class TgsUDFRadToDeg : public TgsUserDefFunction { DERIDAR_UDF_BODY("RTOD") };
class TgsUDFPi : public TgsUserDefFunction { DERIDAR_UDF_BODY("PI") };
class TgsUDFLog : public TgsUserDefFunction { DERIDAR_UDF_BODY("LOG") };
class TgsUDFLog10 : public TgsUserDefFunction { DERIDAR_UDF_BODY("LOG10") };
class TgsUDFFutureValue : public TgsUserDefFunction { DERIDAR_UDF_BODY("FV") };
class TgsUDFPresentValue : public TgsUserDefFunction { DERIDAR_UDF_BODY("PV") };

// Logical and list functions.
class TgsUDFIIF : public TgsUserDefFunction { DERIDAR_UDF_BODY("IIF") };
class TgsUDFBetween : public TgsUserDefFunction { DERIDAR_UDF_BODY("BETWEEN") };
class TgsUDFInlist : public TgsUserDefFunction { DERIDAR_UDF_BODY("INLIST") };
class TgsUDFEmpty : public TgsUserDefFunction { DERIDAR_UDF_BODY("EMPTY") };
class TgsUDFMax : public TgsUserDefFunction { DERIDAR_UDF_BODY("MAX") };
class TgsUDFMin : public TgsUserDefFunction { DERIDAR_UDF_BODY("MIN") };

#undef DERIDAR_UDF_BODY
