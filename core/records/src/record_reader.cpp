#include "record_reader.hpp"

#include "builders.hpp"

namespace mirtle {

Result<Ok, ParseError> RecordReader::take(const SectionEvent& event) {
  switch (event.kind) {
    case EventKind::HeaderAttribute: header_.set(event.key, event.value); break;
    case EventKind::SectionStart:
      if (!header_sent_) {
        // The statement starts with the first section; the header is final.
        sink_.on_header(encoding_, header_);
        header_sent_ = true;
      }
      section_.clear();
      values_.clear();
      section_start_ = event.lineno;
      doc_type_ = event.section_type == SectionType::Document ? event.value : std::string_view();
      break;
    case EventKind::SectionAttribute:
      if (collects_values(event.section_type)) {
        values_.set(event.key, event.value);
      } else {
        section_.set(event.key, event.value);
      }
      break;
    case EventKind::SectionEnd: {
      auto closed = event.section_type == SectionType::Account ? close_account(event.lineno)
                                                          : close_document(event.lineno);
      section_.clear();
      return closed;
    }
    case EventKind::Start:
    case EventKind::End: break;
  }
  return Ok{};
}

std::span<const AttributeView> RecordReader::attributes() const noexcept {
  if (hooks_.empty()) return section_.items();
  return hooked_views_;
}

Result<Ok, ParseError> RecordReader::run_hooks(LineNo lineno, SectionType type) {
  if (hooks_.empty()) return Ok{};
  section_.copy_to(hooked_);
  for (Hook* hook : hooks_) {
    HookOutcome outcome = hook->on_section(type, hooked_, header_);
    if (outcome.failed)
      return fail(ParseError::with_message(SyntaxKind::HookError, lineno, std::move(outcome.message)));
  }
  hooked_views_.clear();
  for (const AttributeMap::Entry& e : hooked_.entries()) hooked_views_.push_back({e.first, e.second});
  return Ok{};
}

Result<Ok, ParseError> RecordReader::close_account(LineNo lineno) {
  auto ran = run_hooks(lineno, SectionType::Account);
  if (!ran) return ran;
  auto interval = build_interval(attributes());
  if (!interval)
    return fail(ParseError::with_message(SyntaxKind::AccountParseError, lineno, message(interval.error())));
  // The number is looked up in the same attributes the interval came from.
  const std::string_view* number = nullptr;
  std::string_view hooked_number;
  if (hooks_.empty()) {
    number = section_.find(account_key::kNumber);
  } else if (const std::string* v = hooked_.find(account_key::kNumber)) {
    hooked_number = *v;
    number = &hooked_number;
  }
  if (number == nullptr)
    return fail(ParseError::missing_field(lineno, std::string(account_key::kNumber), ParserContext::Account));
  sink_.on_interval_section(*number, std::move(interval).value(), section_start_, lineno);
  return Ok{};
}

Result<Ok, ParseError> RecordReader::close_document(LineNo lineno) {
  auto ran = run_hooks(lineno, SectionType::Document);
  if (!ran) return ran;
  // A document that cannot be built is left out with a warning.
  if (collects_values(SectionType::Document)) {
    BuildFailure failure;
    if (build_document(values_, doc_type_, texts_, document_, failure)) {
      sink_.on_document(std::move(document_), lineno);
    } else {
      sink_.on_warning(Warning{lineno, message(failure)});
    }
    return Ok{};
  }
  auto document = build_document(attributes(), doc_type_, texts_);
  if (document) {
    sink_.on_document(std::move(document).value(), lineno);
  } else {
    sink_.on_warning(Warning{lineno, message(document.error())});
  }
  return Ok{};
}

}  // namespace mirtle
