// The line emitter shared by both writer paths: keys, values and markers
// in, encoded lines appended to the caller's string, each text checked for
// what a reader could not give back.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "mirtle/records.hpp"
#include "mirtle/values.hpp"
#include "mirtle/writer.hpp"

namespace mirtle::writer {

// The texts the writer emits itself: the 53 document keys (indexed by
// DocField), the account keys, Кодировка and the markers.
enum class Fixed : std::uint8_t {
  DateStart = kDocFieldCount,  // ДатаНачала
  DateEnd,                     // ДатаКонца
  AccountNumber,               // РасчСчет
  StartAmount,                 // НачальныйОстаток
  Income,                      // ВсегоПоступило
  Expense,                     // ВсегоСписано
  EndAmount,                   // КонечныйОстаток
  EncodingKey,                 // Кодировка
  Exchange,                    // 1CClientBankExchange
  AccountStart,                // СекцияРасчСчет
  AccountEnd,                  // КонецРасчСчет
  DocumentStart,               // СекцияДокумент
  DocumentEnd,                 // КонецДокумента
  FileEnd,                     // КонецФайла
  Count_,
};
inline constexpr std::size_t kFixedCount = static_cast<std::size_t>(Fixed::Count_);

constexpr Fixed fixed_of(DocField field) noexcept { return static_cast<Fixed>(field); }

// The UTF-8 text of a fixed text.
std::string_view fixed_text(Fixed f) noexcept;

// Whether `key` equals one of the six keywords of the format.
bool is_keyword(std::string_view key) noexcept;

// A refused key or value: the reason, and the character for NotInWindows1251.
struct Refusal {
  WriteErrorKind kind;
  char32_t code_point = 0;
};

// The windows-1251 byte of each character that has one, derived from the
// reader's own table so that writing is its exact inverse.
class Windows1251Table {
 public:
  Windows1251Table() noexcept;
  // The byte of `cp`, or 0 when it has none (no character above U+007F
  // maps to byte 0).
  unsigned char byte_of(char32_t cp) const noexcept {
    if (cp < 0x80) return static_cast<unsigned char>(cp);
    if (cp < kLowEnd) return low_[cp - 0x80];
    if (cp >= kHighStart && cp < kHighEnd) return high_[cp - kHighStart];
    return 0;
  }
  // The byte of U+0400 + `offset`, offset 0..127; 0 when it has none.
  unsigned char byte_of_cyrillic(unsigned offset) const noexcept { return low_[0x400 - 0x80 + offset]; }

 private:
  // The high half maps into U+0080..U+045F, U+0490..U+0491 and
  // U+2013..U+2122: two direct tables, 1.3 KB together.
  static constexpr char32_t kLowEnd = 0x0500;
  static constexpr char32_t kHighStart = 0x2000;
  static constexpr char32_t kHighEnd = 0x2130;
  std::array<unsigned char, kLowEnd - 0x80> low_{};
  std::array<unsigned char, kHighEnd - kHighStart> high_{};
};

class LineOut {
 public:
  // `check_utf8_each`: validate every UTF-8 key and value on its own, for
  // naming the bad one after the whole-text check failed (UTF-8 output).
  LineOut(const WriteOptions& options, std::string& out, bool check_utf8_each);

  void marker(Fixed f) {
    put_fixed(f);
    newline();
  }
  // "СекцияДокумент=<type>"; the type is checked as a value.
  std::optional<Refusal> document_start(std::string_view type);
  // A line with a key of the writer's own and a checked value.
  std::optional<Refusal> known(Fixed key, std::string_view value);
  // A line with a key of the writer's own and a value it formatted itself.
  void typed(Fixed key, std::string_view ascii_value) {
    put_fixed(key);
    out_ += '=';
    out_.append(ascii_value);
    newline();
  }
  // A line whose key and value are both checked.
  std::optional<Refusal> attribute(std::string_view key, std::string_view value);
  // Whether UTF-8 texts are validated each on its own from now on.
  void check_utf8_each(bool on) noexcept { check_utf8_each_ = on; }

 private:
  void put_fixed(Fixed f) { out_.append(forms_[static_cast<std::size_t>(f)]); }
  void newline() {
    if (crlf_) out_ += '\r';
    out_ += '\n';
  }
  std::optional<Refusal> put_text(std::string_view text, bool is_key);

  std::string& out_;
  bool crlf_;
  bool utf8_;
  bool check_utf8_each_;
  Windows1251Table table_;
  std::string storage_;  // the windows-1251 forms of the fixed texts
  std::array<std::string_view, kFixedCount> forms_{};
};

// The checks after the whole text is written, on [start, out.size()):
// well-formed UTF-8 for UTF-8 output; for windows-1251 output, the reader's
// plausibility check.  Returns the refusal, if any.
std::optional<WriteErrorKind> check_whole_text(const std::string& out, std::size_t start, Encoding encoding);

}  // namespace mirtle::writer
