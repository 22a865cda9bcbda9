#include "mirtle/vocabulary.hpp"

#include "mirtle/document_keys.hpp"

namespace mirtle {

const std::array<DocFieldInfo, kDocFieldCount>& document_fields() noexcept { return kDocumentFields; }

std::optional<DocField> find_document_field(std::string_view key) noexcept { return document_keys::find(key); }

namespace {

template <typename Enum, std::size_t N>
std::string_view name_in(const std::array<std::string_view, N>& names, Enum value) noexcept {
  const auto i = static_cast<std::size_t>(value);
  return i < N ? names[i] : std::string_view();
}

char lower_ascii(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equals_ignoring_ascii_case(std::string_view a, std::string_view lower) noexcept {
  if (a.size() != lower.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower_ascii(a[i]) != lower[i]) return false;
  return true;
}

}  // namespace

NamedEncoding named_encoding(std::string_view value) noexcept {
  for (std::string_view n : {"windows", "windows-1251", "cp1251"})
    if (equals_ignoring_ascii_case(value, n)) return NamedEncoding::Windows1251;
  for (std::string_view n : {"utf-8", "utf8"})
    if (equals_ignoring_ascii_case(value, n)) return NamedEncoding::Utf8;
  for (std::string_view n : {"dos", "cp866"})
    if (equals_ignoring_ascii_case(value, n)) return NamedEncoding::Dos;
  return NamedEncoding::Unknown;
}

std::string_view header_name(Encoding encoding) noexcept { return encoding == Encoding::UTF8 ? "UTF-8" : "Windows"; }

bool names_encoding(std::string_view value, Encoding encoding) noexcept {
  const NamedEncoding named = named_encoding(value);
  return encoding == Encoding::UTF8 ? named == NamedEncoding::Utf8 : named == NamedEncoding::Windows1251;
}

std::string_view name(Encoding encoding) noexcept {
  static constexpr std::array<std::string_view, 2> kNames = {"cp1251", "utf-8"};
  return name_in(kNames, encoding);
}

std::string_view name(SectionType type) noexcept {
  static constexpr std::array<std::string_view, 2> kNames = {"Document", "Account"};
  return name_in(kNames, type);
}

std::string_view name(ParserContext context) noexcept {
  static constexpr std::array<std::string_view, 6> kNames = {"header", "document", "account",
                                                             "finished", "init", "read_next_section"};
  return name_in(kNames, context);
}

std::string_view name(ErrorKind kind) noexcept {
  static constexpr std::array<std::string_view, 5> kNames = {"Syntax", "InvalidDocument", "Unfinished",
                                                             "NotStatement", "EmptyInput"};
  return name_in(kNames, kind);
}

std::string_view name(SyntaxKind kind) noexcept {
  static constexpr std::array<std::string_view, 7> kNames = {
      "UnexpectedSection", "UnexpectedAttribute", "UnrecognizedLine", "MissingField",
      "AccountParseError", "DocumentParseError", "HookError"};
  return name_in(kNames, kind);
}

}  // namespace mirtle
