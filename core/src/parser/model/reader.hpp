// The section reader: the state machine from the classified lines to the
// statement record.
#pragma once

#include <span>

#include "mirtle/statement.hpp"
#include "parser/model/line.hpp"
#include "records/builders.hpp"

namespace mirtle {

class SectionReader {
 public:
  SectionReader(std::span<Hook* const> hooks, Encoding encoding) : hooks_(hooks), encoding_(encoding) {}

  // Feeds one non-empty, classified line.  The views in `line` must stay
  // valid until the section they belong to is closed.
  Result<Ok, ParseError> step(LineNo lineno, const StatementLine& line);

  ParserContext state() const noexcept { return state_; }

  // The finished statement; call once, in the Finished state.
  Statement take_statement();

 private:
  Result<Ok, ParseError> on_header_line(LineNo lineno, const StatementLine& line);
  Result<Ok, ParseError> on_section_line(LineNo lineno, const StatementLine& line, LineKind end);
  Result<Ok, ParseError> on_between_sections(LineNo lineno, const StatementLine& line);
  Result<Ok, ParseError> close_account(LineNo lineno);
  Result<Ok, ParseError> close_document(LineNo lineno);
  void open_section(const StatementLine& start);
  // Runs the hooks over a copy of the section; fills `hooked`.
  Result<Ok, ParseError> run_hooks(LineNo lineno, SectionType type, AttributeMap& hooked);
  ParseError unexpected(LineNo lineno, const StatementLine& line) const;

  std::span<Hook* const> hooks_;
  Encoding encoding_;
  ParserContext state_ = ParserContext::Init;
  Statement statement_;
  AccountBook accounts_;
  AttributeList section_;  // reused from section to section
  std::string_view doc_type_;
};

}  // namespace mirtle
