#include "parser/model/reader.hpp"

namespace mirtle {

namespace {
constexpr std::string_view kAccountNumber = "РасчСчет";
}

Result<Ok, ParseError> SectionReader::step(LineNo lineno, const StatementLine& line) {
  switch (state_) {
    case ParserContext::Init:
      if (line.kind == LineKind::ExchangeStart) {
        state_ = ParserContext::Header;
        return Ok{};
      }
      break;
    case ParserContext::Header: return on_header_line(lineno, line);
    case ParserContext::Account: return on_section_line(lineno, line, LineKind::AccountEnd);
    case ParserContext::Document: return on_section_line(lineno, line, LineKind::DocumentEnd);
    case ParserContext::ReadNextSection: return on_between_sections(lineno, line);
    case ParserContext::Finished: break;
  }
  return fail(unexpected(lineno, line));
}

ParseError SectionReader::unexpected(LineNo lineno, const StatementLine& line) const {
  if (line.kind == LineKind::Attribute)
    return ParseError::unexpected_attribute(lineno, std::string(line.key), std::string(line.value));
  return ParseError::unexpected_section(lineno, canonical_text(line), state_);
}

Result<Ok, ParseError> SectionReader::on_header_line(LineNo lineno, const StatementLine& line) {
  switch (line.kind) {
    case LineKind::Attribute:
      statement_.header.set(line.key, line.value);
      return Ok{};
    case LineKind::AccountStart:
    case LineKind::DocumentStart:
      // The statement starts with the first section; the header is final.
      statement_.encoding = encoding_;
      open_section(line);
      return Ok{};
    default: return fail(unexpected(lineno, line));
  }
}

Result<Ok, ParseError> SectionReader::on_section_line(LineNo lineno, const StatementLine& line,
                                                      LineKind end) {
  if (line.kind == LineKind::Attribute) {
    section_.set(line.key, line.value);
    return Ok{};
  }
  if (line.kind != end) return fail(unexpected(lineno, line));
  auto closed = end == LineKind::AccountEnd ? close_account(lineno) : close_document(lineno);
  if (!closed) return closed;
  section_.clear();
  state_ = ParserContext::ReadNextSection;
  return Ok{};
}

Result<Ok, ParseError> SectionReader::on_between_sections(LineNo lineno, const StatementLine& line) {
  switch (line.kind) {
    case LineKind::AccountStart:
    case LineKind::DocumentStart: open_section(line); return Ok{};
    case LineKind::FileEnd: state_ = ParserContext::Finished; return Ok{};
    default: return fail(unexpected(lineno, line));
  }
}

void SectionReader::open_section(const StatementLine& start) {
  section_.clear();
  if (start.kind == LineKind::DocumentStart) {
    doc_type_ = start.value;
    state_ = ParserContext::Document;
  } else {
    state_ = ParserContext::Account;
  }
}

Result<Ok, ParseError> SectionReader::run_hooks(LineNo lineno, SectionType type, AttributeMap& hooked) {
  hooked = AttributeMap::from(section_);
  for (Hook* hook : hooks_) {
    HookOutcome outcome = hook->on_section(type, hooked, statement_.header);
    if (outcome.failed)
      return fail(ParseError::with_message(SyntaxKind::HookError, lineno, std::move(outcome.message)));
  }
  return Ok{};
}

Result<Ok, ParseError> SectionReader::close_account(LineNo lineno) {
  AttributeMap hooked;
  std::vector<AttributeView> hooked_views;
  std::span<const AttributeView> attrs = section_.items();
  if (!hooks_.empty()) {
    auto ran = run_hooks(lineno, SectionType::Account, hooked);
    if (!ran) return ran;
    hooked_views = hooked.views();
    attrs = hooked_views;
  }
  auto interval = build_interval(attrs);
  if (!interval)
    return fail(ParseError::with_message(SyntaxKind::AccountParseError, lineno, std::move(interval).error()));
  // The number is looked up in the same attributes the interval came from.
  std::optional<std::string_view> number;
  if (hooks_.empty()) {
    if (const std::string_view* v = section_.find(kAccountNumber)) number = *v;
  } else if (const std::string* v = hooked.find(kAccountNumber)) {
    number = *v;
  }
  if (!number)
    return fail(ParseError::missing_field(lineno, std::string(kAccountNumber), ParserContext::Account));
  accounts_.add_interval(*number, *interval);
  return Ok{};
}

Result<Ok, ParseError> SectionReader::close_document(LineNo lineno) {
  AttributeMap hooked;
  std::vector<AttributeView> hooked_views;
  std::span<const AttributeView> attrs = section_.items();
  if (!hooks_.empty()) {
    auto ran = run_hooks(lineno, SectionType::Document, hooked);
    if (!ran) return ran;
    hooked_views = hooked.views();
    attrs = hooked_views;
  }
  auto document = build_document(attrs, doc_type_);
  if (document) {
    statement_.documents.push_back(std::move(document).value());
  } else {
    // A document that cannot be built is left out with a warning.
    statement_.warnings.push_back(Warning{lineno, std::move(document).error()});
  }
  return Ok{};
}

Statement SectionReader::take_statement() {
  statement_.accounts = accounts_.finish();
  return std::move(statement_);
}

}  // namespace mirtle
