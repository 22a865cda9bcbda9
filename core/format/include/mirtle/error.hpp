// Parse errors and warnings.  The core gives errors no message text of
// their own: a caller formats messages from the kind and the fields.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mirtle/vocabulary.hpp"

namespace mirtle {

using LineNo = std::uint64_t;  // 1 for the first line of the decoded text

// One error value.  `text` holds found/key/line/field/message by kind;
// `value` is used only by UnexpectedAttribute; `context` only by
// UnexpectedSection and MissingField; syntax fields are empty otherwise.
struct ParseError {
  ErrorKind kind = ErrorKind::Syntax;
  SyntaxKind syntax = SyntaxKind::UnrecognizedLine;
  ParserContext context = ParserContext::Init;
  LineNo lineno = 0;
  std::string text;
  std::string value;

  static ParseError plain(ErrorKind kind) {
    ParseError e;
    e.kind = kind;
    return e;
  }
  static ParseError unexpected_section(LineNo n, std::string found, ParserContext c) {
    return syntax_error(SyntaxKind::UnexpectedSection, n, std::move(found), {}, c);
  }
  static ParseError unexpected_attribute(LineNo n, std::string key, std::string value) {
    return syntax_error(SyntaxKind::UnexpectedAttribute, n, std::move(key), std::move(value),
                        ParserContext::Init);
  }
  static ParseError unrecognized_line(LineNo n, std::string line) {
    return syntax_error(SyntaxKind::UnrecognizedLine, n, std::move(line), {}, ParserContext::Init);
  }
  static ParseError missing_field(LineNo n, std::string field, ParserContext c) {
    return syntax_error(SyntaxKind::MissingField, n, std::move(field), {}, c);
  }
  static ParseError with_message(SyntaxKind kind, LineNo n, std::string message) {
    return syntax_error(kind, n, std::move(message), {}, ParserContext::Init);
  }

  bool is_syntax() const noexcept { return kind == ErrorKind::Syntax; }

  friend bool operator==(const ParseError&, const ParseError&) = default;

 private:
  static ParseError syntax_error(SyntaxKind kind, LineNo n, std::string text, std::string value,
                                 ParserContext c) {
    ParseError e;
    e.kind = ErrorKind::Syntax;
    e.syntax = kind;
    e.context = c;
    e.lineno = n;
    e.text = std::move(text);
    e.value = std::move(value);
    return e;
  }
};

// A problem that did not stop the parse: a document that could not be built.
struct Warning {
  LineNo lineno;
  std::string message;

  friend bool operator==(const Warning&, const Warning&) = default;
};

}  // namespace mirtle
