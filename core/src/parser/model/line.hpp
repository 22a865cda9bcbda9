// Classifying one trimmed, non-empty line of a statement.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mirtle {

enum class LineKind : std::uint8_t {
  ExchangeStart,  // 1CClientBankExchange
  AccountStart,   // СекцияРасчСчет
  AccountEnd,     // КонецРасчСчет
  DocumentStart,  // СекцияДокумент=<type>
  DocumentEnd,    // КонецДокумента
  FileEnd,        // КонецФайла
  Attribute,      // key=value
};

// Views into the line.  For Attribute: key and value, both trimmed; for
// DocumentStart: `value` is the type, its start trimmed.
struct StatementLine {
  LineKind kind;
  std::string_view key;
  std::string_view value;
};

namespace keyword {
inline constexpr std::string_view kExchange = "1CClientBankExchange";
inline constexpr std::string_view kAccountStart = "СекцияРасчСчет";
inline constexpr std::string_view kAccountEnd = "КонецРасчСчет";
inline constexpr std::string_view kDocumentStart = "СекцияДокумент";
inline constexpr std::string_view kDocumentEnd = "КонецДокумента";
inline constexpr std::string_view kFileEnd = "КонецФайла";
}  // namespace keyword

// nullopt when the line is unrecognized.  Does not allocate.
std::optional<StatementLine> classify_line(std::string_view trimmed) noexcept;

// The marker's text as it is named in errors: the keyword, and for a
// document start "СекцияДокумент=" followed by the type.
std::string canonical_text(const StatementLine& line);

}  // namespace mirtle
