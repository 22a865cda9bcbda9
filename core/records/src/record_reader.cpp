#include "record_reader.hpp"

#include "builders.hpp"

namespace mirtle {

HookOutcome Hook::on_section_views(SectionType type, std::span<const AttributeView> attrs,
                                   const AttributeMap& header, AttributeMap& changed_attrs, bool& changed) {
  changed_attrs.assign(attrs);
  changed = true;
  return on_section(type, changed_attrs, header);
}

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
    case EventKind::SectionAttribute: set(event.key, event.value, event.section_type == SectionType::Document); break;
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

Result<Ok, ParseError> RecordReader::run_hooks(LineNo lineno, SectionType type) {
  changed_ = false;
  for (Hook* hook : hooks_) {
    HookOutcome outcome = changed_ ? hook->on_section(type, hooked_, header_)
                                   : hook->on_section_views(type, section_.items(), header_, hooked_, changed_);
    if (outcome.failed)
      return fail(ParseError::with_message(SyntaxKind::HookError, lineno, std::move(outcome.message)));
  }
  if (changed_) {
    hooked_views_.clear();
    for (const AttributeMap::Entry& e : hooked_.entries()) hooked_views_.push_back({e.first, e.second});
  }
  return Ok{};
}

Result<Ok, ParseError> RecordReader::close_account(LineNo lineno) {
  auto ran = run_hooks(lineno, SectionType::Account);
  if (!ran) return ran;
  auto interval = build_interval(changed() ? std::span<const AttributeView>(hooked_views_) : section_.items());
  if (!interval)
    return fail(ParseError::with_message(SyntaxKind::AccountParseError, lineno, message(interval.error())));
  // The number is looked up in the same attributes the interval came from.
  const std::string_view* number = nullptr;
  std::string_view hooked_number;
  if (!changed()) {
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

// A document that cannot be built is left out with a warning.  One no hook
// changed is built from its values by field, as read; a changed one from
// the hook's attributes.
Result<Ok, ParseError> RecordReader::close_document(LineNo lineno) {
  auto ran = run_hooks(lineno, SectionType::Document);
  if (!ran) return ran;
  if (!changed()) {
    BuildFailure failure;
    if (build_document(values_, doc_type_, texts_, document_, failure)) {
      sink_.on_document(std::move(document_), lineno);
    } else {
      sink_.on_warning(Warning{lineno, message(failure)});
    }
    return Ok{};
  }
  auto document = build_document(hooked_views_, doc_type_, texts_);
  if (document) {
    sink_.on_document(std::move(document).value(), lineno);
  } else {
    sink_.on_warning(Warning{lineno, message(document.error())});
  }
  return Ok{};
}

}  // namespace mirtle
