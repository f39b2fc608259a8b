// Deterministic generator of a telephone directory table (PHONE.DBF), shared
// by the mkphone tool, tests and benchmarks.
//
// The table is dBase III (version 0x03) with the fields
//   NUM C(7)   seven-digit number, first digit 2..9, all numbers distinct and
//              spread evenly over the number range
//   FIO C(35)  surname with initials, enterprise name, or payphone label
//   ADR C(35)  street address
//   TIP N(1,0) 1 city subscriber (~80%), 2 enterprise (~15%), 3 payphone (~5%)
// Texts are upper case and stored in code page 866; about one record in
// 200 is marked deleted. The same seed always gives the same file.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/file.h"

namespace phonegen {

struct PhoneRecord {
  std::string num;  // 7 digits
  std::string fio;  // code page 866
  std::string adr;  // code page 866
  int tip = 1;
  bool deleted = false;
};

constexpr int kRecordLength = 1 + 7 + 35 + 35 + 1;
constexpr int kHeaderLength = 32 + 4 * 32 + 1;

class PhoneGenerator {
 public:
  explicit PhoneGenerator(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x1234567ull) {
    // Distinct numbers: index i maps to 2000000 + (offset + i * stride) mod
    // 8000000, with the stride coprime to 8000000 (= 2^9 * 5^6).
    offset_ = Below(kNumberRange);
    stride_ = 2654435 + 2 * Below(1000000);  // odd
    while (stride_ % 5 == 0) stride_ += 2;
    for (std::string_view w : kMaleSurnames) surnames_.push_back(Oem(w));
    for (std::string_view w : kInitials) initials_.push_back(Oem(w));
    for (std::string_view w : kStreets) streets_.push_back(Oem(w));
    for (std::string_view w : kStreetKinds) streetKinds_.push_back(Oem(w));
    for (std::string_view w : kEnterpriseKinds) enterpriseKinds_.push_back(Oem(w));
    for (std::string_view w : kEnterpriseNames) enterpriseNames_.push_back(Oem(w));
    for (std::string_view w : kPayphonePlaces) payphonePlaces_.push_back(Oem(w));
    femaleEnding_ = Oem("А");
    skiy_ = Oem("СКИЙ");
    skaya_ = Oem("СКАЯ");
    payphone_ = Oem("ТАКСОФОН ");
  }

  // The next record; `index` counts from 0 and decides the number.
  PhoneRecord Next() {
    PhoneRecord r;
    uint64_t number = 2000000 + (offset_ + index_ * stride_) % kNumberRange;
    ++index_;
    r.num = std::to_string(number);
    uint64_t kind = Below(100);
    r.tip = kind < 80 ? 1 : kind < 95 ? 2 : 3;
    r.deleted = Below(200) == 0;
    if (r.tip == 1) {
      r.fio = PersonName();
      r.adr = Address(true);
    } else if (r.tip == 2) {
      r.fio = EnterpriseName();
      r.adr = Address(false);
    } else {
      r.fio = payphone_ + Pick(payphonePlaces_);
      r.adr = Address(false);
    }
    Fit(r.fio);
    Fit(r.adr);
    return r;
  }

  // The record image: deletion flag, then NUM, FIO, ADR, TIP.
  static void Image(const PhoneRecord& r, char* out) {
    std::memset(out, ' ', kRecordLength);
    out[0] = r.deleted ? '*' : ' ';
    std::memcpy(out + 1, r.num.data(), std::min<size_t>(r.num.size(), 7));
    std::memcpy(out + 8, r.fio.data(), std::min<size_t>(r.fio.size(), 35));
    std::memcpy(out + 43, r.adr.data(), std::min<size_t>(r.adr.size(), 35));
    out[78] = static_cast<char>('0' + r.tip);
  }

 private:
  static constexpr uint64_t kNumberRange = 8000000;

  static std::string Oem(std::string_view utf8) {
    return platform::FromUtf8(utf8, platform::CodePage::Cp866);
  }
  static void Fit(std::string& s) {
    if (s.size() > 35) s.resize(35);
  }

  uint64_t NextRandom() {  // splitmix64
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint64_t Below(uint64_t n) { return NextRandom() % n; }
  const std::string& Pick(const std::vector<std::string>& from) { return from[Below(from.size())]; }

  std::string PersonName() {
    std::string surname = Pick(surnames_);
    if (Below(2) == 0) {  // female form
      size_t n = surname.size();
      if (n > skiy_.size() && surname.compare(n - skiy_.size(), skiy_.size(), skiy_) == 0)
        surname.replace(n - skiy_.size(), skiy_.size(), skaya_);
      else
        surname += femaleEnding_;
    }
    return surname + " " + Pick(initials_) + "." + Pick(initials_) + ".";
  }

  std::string EnterpriseName() {
    const std::string& kind = Pick(enterpriseKinds_);
    if (Below(3) == 0) return kind + " N " + std::to_string(1 + Below(150));
    return kind + " " + Pick(enterpriseNames_);
  }

  std::string Address(bool withFlat) {
    std::string a = Pick(streetKinds_) + Pick(streets_) + " " + std::to_string(1 + Below(120));
    if (Below(8) == 0) a += "/" + std::to_string(1 + Below(9));
    if (withFlat) a += "-" + std::to_string(1 + Below(240));
    return a;
  }

  static constexpr std::array<std::string_view, 64> kMaleSurnames = {
      "ИВАНОВ",    "ПЕТРОВ",     "СИДОРОВ",   "СМИРНОВ",   "КУЗНЕЦОВ",  "ПОПОВ",
      "ВАСИЛЬЕВ",  "СОКОЛОВ",    "МИХАЙЛОВ",  "НОВИКОВ",   "ФЕДОРОВ",   "МОРОЗОВ",
      "ВОЛКОВ",    "АЛЕКСЕЕВ",   "ЛЕБЕДЕВ",   "СЕМЕНОВ",   "ЕГОРОВ",    "ПАВЛОВ",
      "КОЗЛОВ",    "СТЕПАНОВ",   "НИКОЛАЕВ",  "ОРЛОВ",     "АНДРЕЕВ",   "МАКАРОВ",
      "НИКИТИН",   "ЗАХАРОВ",    "ЗАЙЦЕВ",    "СОЛОВЬЕВ",  "БОРИСОВ",   "ЯКОВЛЕВ",
      "ГРИГОРЬЕВ", "РОМАНОВ",    "ВОРОБЬЕВ",  "СЕРГЕЕВ",   "КУЗЬМИН",   "ФРОЛОВ",
      "АЛЕКСАНДРОВ", "ДМИТРИЕВ", "КОРОЛЕВ",   "ГУСЕВ",     "КИСЕЛЕВ",   "ИЛЬИН",
      "МАКСИМОВ",  "ПОЛЯКОВ",    "СОРОКИН",   "ВИНОГРАДОВ", "КОВАЛЕВ",  "БЕЛОВ",
      "МЕДВЕДЕВ",  "АНТОНОВ",    "ТАРАСОВ",   "ЖУКОВ",     "БАРАНОВ",   "ФИЛИППОВ",
      "КОМАРОВ",   "ДАВЫДОВ",    "БЕЛЯЕВ",    "ГЕРАСИМОВ", "БОГДАНОВ",  "ОСИПОВ",
      "КОВАЛЕВСКИЙ", "ЗАВАДСКИЙ", "ЛИСИЦКИЙ", "ЯБЛОНСКИЙ"};
  static constexpr std::array<std::string_view, 24> kInitials = {
      "А", "Б", "В", "Г", "Д", "Е", "Ж", "З", "И", "К", "Л", "М",
      "Н", "О", "П", "Р", "С", "Т", "У", "Ф", "Э", "Ю", "Я", "Н"};
  static constexpr std::array<std::string_view, 40> kStreets = {
      "ЛЕНИНА",      "МИРА",        "СОВЕТСКАЯ",   "ГАГАРИНА",   "ПУШКИНА",
      "КИРОВА",      "ЛЕРМОНТОВА",  "ЧЕХОВА",      "ГОРЬКОГО",   "САДОВАЯ",
      "ШКОЛЬНАЯ",    "ЛЕСНАЯ",      "НАБЕРЕЖНАЯ",  "ЗАВОДСКАЯ",  "МОЛОДЕЖНАЯ",
      "ОКТЯБРЬСКАЯ", "ПЕРВОМАЙСКАЯ", "КОМСОМОЛЬСКАЯ", "ПОБЕДЫ",  "СТРОИТЕЛЕЙ",
      "ЮБИЛЕЙНАЯ",   "ЦЕНТРАЛЬНАЯ", "ПОЛЕВАЯ",     "РАБОЧАЯ",    "СТАНЦИОННАЯ",
      "ВОКЗАЛЬНАЯ",  "ЗЕЛЕНАЯ",     "КРАСНАЯ",     "ВЕСЕННЯЯ",   "СОЛНЕЧНАЯ",
      "ФРУНЗЕ",      "ЧАПАЕВА",     "СУВОРОВА",    "КУТУЗОВА",   "ЛОМОНОСОВА",
      "МАЯКОВСКОГО", "ТОЛСТОГО",    "ДОСТОЕВСКОГО", "ТУРГЕНЕВА", "НЕКРАСОВА"};
  static constexpr std::array<std::string_view, 6> kStreetKinds = {
      "УЛ.", "УЛ.", "УЛ.", "ПР.", "ПЕР.", "Б-Р "};
  static constexpr std::array<std::string_view, 14> kEnterpriseKinds = {
      "ЗАВОД",   "ООО",       "АО",         "МАГАЗИН",    "ШКОЛА",   "ПОЛИКЛИНИКА", "АПТЕКА",
      "БОЛЬНИЦА", "ДЕТСАД",   "БИБЛИОТЕКА", "АТЕЛЬЕ",     "КОМБИНАТ", "ТРЕСТ",      "УПРАВЛЕНИЕ"};
  static constexpr std::array<std::string_view, 24> kEnterpriseNames = {
      "\"ВОСХОД\"",   "\"ЗАРЯ\"",     "\"ВЕСНА\"",     "\"ПРОГРЕСС\"",  "\"СПУТНИК\"",
      "\"РАССВЕТ\"",  "\"МАЯК\"",     "\"ЭЛЕКТРОН\"",  "\"РОДНИК\"",    "\"ОКЕАН\"",
      "\"СИБИРЬ\"",   "\"ВОЛНА\"",    "\"КРИСТАЛЛ\"",  "\"ГОРИЗОНТ\"",  "\"ЭНЕРГИЯ\"",
      "\"СТРОИТЕЛЬ\"", "\"ТЕХНИКА\"", "\"УРОЖАЙ\"",    "\"ОГОНЕК\"",    "\"ЗВЕЗДА\"",
      "\"МЕТАЛЛИСТ\"", "\"РУСЬ\"",    "\"ТАЙФУН\"",    "\"ЯНТАРЬ\""};
  static constexpr std::array<std::string_view, 10> kPayphonePlaces = {
      "ВОКЗАЛ",  "ПОЧТА",    "РЫНОК",  "ПЛОЩАДЬ", "ПАРК",
      "СТАДИОН", "АВТОСТАНЦИЯ", "ГОСТИНИЦА", "ТЕАТР", "УНИВЕРМАГ"};

  uint64_t state_;
  uint64_t index_ = 0;
  uint64_t offset_ = 0;
  uint64_t stride_ = 1;
  std::vector<std::string> surnames_, initials_, streets_, streetKinds_, enterpriseKinds_,
      enterpriseNames_, payphonePlaces_;
  std::string femaleEnding_, skiy_, skaya_, payphone_;
};

// The 161-byte header and descriptors of PHONE.DBF with `count` records.
inline std::string PhoneHeader(uint32_t count) {
  std::string h(kHeaderLength, '\0');
  h[0] = 0x03;
  h[1] = 26;
  h[2] = 1;
  h[3] = 1;
  for (int i = 0; i < 4; ++i) h[4 + i] = static_cast<char>(count >> (8 * i));
  h[8] = static_cast<char>(kHeaderLength & 0xFF);
  h[9] = static_cast<char>(kHeaderLength >> 8);
  h[10] = static_cast<char>(kRecordLength & 0xFF);
  h[11] = static_cast<char>(kRecordLength >> 8);
  h[29] = 0x26;  // language byte of code page 866
  struct Field {
    const char* name;
    char type;
    int length;
  } fields[] = {{"NUM", 'C', 7}, {"FIO", 'C', 35}, {"ADR", 'C', 35}, {"TIP", 'N', 1}};
  for (int i = 0; i < 4; ++i) {
    char* d = h.data() + 32 + 32 * i;
    std::memcpy(d, fields[i].name, std::strlen(fields[i].name));
    d[11] = fields[i].type;
    d[16] = static_cast<char>(fields[i].length);
  }
  h[32 + 4 * 32] = 0x0D;
  return h;
}

// Writes PHONE.DBF with `count` records generated from `seed`; false when
// the file cannot be written.
inline bool WritePhoneDbf(const std::string& path, uint32_t count, uint64_t seed) {
  if (!platform::File::Create(path)) return false;
  platform::File file;
  if (!file.Open(path, true, false)) return false;
  std::string header = PhoneHeader(count);
  if (!file.WriteAt(0, header.data(), header.size())) return false;
  PhoneGenerator gen(seed);
  constexpr uint32_t kChunk = 8192;
  std::vector<char> buffer(static_cast<size_t>(kChunk) * kRecordLength + 1);
  int64_t at = kHeaderLength;
  for (uint32_t done = 0; done < count;) {
    uint32_t n = std::min(kChunk, count - done);
    for (uint32_t i = 0; i < n; ++i) PhoneGenerator::Image(gen.Next(), buffer.data() + size_t{i} * kRecordLength);
    size_t bytes = size_t{n} * kRecordLength;
    done += n;
    if (done == count) buffer[bytes++] = 0x1A;
    if (!file.WriteAt(at, buffer.data(), bytes)) return false;
    at += static_cast<int64_t>(bytes);
  }
  if (count == 0 && !file.WriteAt(at, "\x1A", 1)) return false;
  return true;
}

}  // namespace phonegen
