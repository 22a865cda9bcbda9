#include "mirtle/message.hpp"

#include <initializer_list>
#include <string_view>

#include "mirtle/quote.hpp"
#include "mirtle/values.hpp"
#include "mirtle/vocabulary.hpp"

namespace mirtle {

namespace {

std::string concat(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (std::string_view p : parts) size += p.size();
  std::string out;
  out.reserve(size);
  for (std::string_view p : parts) out += p;
  return out;
}

std::string describe_syntax(const ParseError& e) {
  const std::string_view context = name(e.context);
  switch (e.syntax) {
    case SyntaxKind::UnexpectedSection:
      return concat({"Unexpected section '", e.text, "' in context '", context, "'"});
    case SyntaxKind::UnexpectedAttribute:
      return concat({"Unexpected attribute '", e.text, "' = '", e.value, "'"});
    case SyntaxKind::UnrecognizedLine:
      return concat({"Unrecognized line: '", e.text, "'"});
    case SyntaxKind::MissingField:
      return concat({"Missing field '", e.text, "' in context '", context, "'"});
    case SyntaxKind::AccountParseError:
      return concat({"Account parse error: ", e.text});
    case SyntaxKind::DocumentParseError:
      return concat({"Document parse error: ", e.text});
    case SyntaxKind::HookError:
      return concat({"Hook error: ", e.text});
  }
  return {};
}

}  // namespace

std::string describe(const ParseError& error) {
  switch (error.kind) {
    case ErrorKind::Syntax:
      return describe_syntax(error);
    case ErrorKind::InvalidDocument:
      return "Invalid document";
    case ErrorKind::Unfinished:
      return "Statement is not finished";
    case ErrorKind::NotStatement:
      return "Input is not a 1C statement";
    case ErrorKind::EmptyInput:
      return "Input is empty";
  }
  return {};
}

std::string message(ValueError error, std::string_view text) {
  switch (error) {
    case ValueError::EmptyDate: return "empty string is not a valid date";
    case ValueError::OutOfRange: return "input is out of range";
    case ValueError::InvalidCharacters: return "input contains invalid characters";
    case ValueError::PrematureEnd: return "premature end of input";
    case ValueError::TrailingInput: return "trailing input";
    case ValueError::InvalidAmount: break;
  }
  std::string out = "invalid value: string ";
  append_quoted(out, text);
  out += ", expected a Decimal type representing a fixed-point number";
  return out;
}

}  // namespace mirtle
