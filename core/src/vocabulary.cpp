#include "mirtle/vocabulary.hpp"

#include "parser/attrs/document_keys.hpp"

namespace mirtle {

const std::array<DocFieldInfo, kDocFieldCount>& document_fields() noexcept { return kDocumentFields; }

std::optional<DocField> find_document_field(std::string_view key) noexcept { return document_keys::find(key); }

namespace {

template <typename Enum, std::size_t N>
std::string_view name_in(const std::array<std::string_view, N>& names, Enum value) noexcept {
  const auto i = static_cast<std::size_t>(value);
  return i < N ? names[i] : std::string_view();
}

}  // namespace

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
