// Stage 2: the section state machine over the classified lines, reported
// as events.
#include "mirtle/sections.hpp"

#include "section_state.hpp"
#include "mirtle/lines.hpp"

namespace mirtle {

namespace {

// Only an open section's lines must outlive the next step: the header and
// the lines between sections are reported once and forgotten.
bool holds_line_views(ParserContext context) noexcept {
  return context == ParserContext::Document || context == ParserContext::Account;
}

bool opens_section(LineKind kind) noexcept {
  return kind == LineKind::AccountStart || kind == LineKind::DocumentStart;
}

LineKind closing_line(SectionType section) noexcept {
  return section == SectionType::Account ? LineKind::AccountEnd : LineKind::DocumentEnd;
}

ParseError unexpected(const TextLine& line, ParserContext context) {
  const StatementLine& c = line.classified;
  if (c.kind == LineKind::Attribute)
    return ParseError::unexpected_attribute(line.lineno, std::string(c.key), std::string(c.value));
  return ParseError::unexpected_section(line.lineno, canonical_text(c), context);
}

}  // namespace

SectionStream::SectionStream(std::unique_ptr<State> state) noexcept : state_(std::move(state)) {}
SectionStream::SectionStream(SectionStream&&) noexcept = default;
SectionStream& SectionStream::operator=(SectionStream&&) noexcept = default;
SectionStream::~SectionStream() = default;

Result<SectionStream, ParseError> SectionStream::open(std::string_view input) {
  auto source = LineSource::open(input);
  if (!source) return fail(ParseError::plain(source.error()));
  return SectionStream(std::make_unique<State>(std::move(source).value()));
}

Result<SectionStream, ParseError> SectionStream::open(text::DecodedText&& decoded) {
  auto source = LineSource::open(std::move(decoded));
  if (!source) return fail(ParseError::plain(source.error()));
  return SectionStream(std::make_unique<State>(std::move(source).value()));
}

SectionStream SectionStream::resume(std::string_view rest, Encoding encoding) {
  text::DecodedText part;
  part.encoding = encoding;
  part.text = rest;
  part.per_line = encoding == Encoding::CP1251;
  auto state = std::make_unique<State>(LineSource::over_part(std::move(part)));
  state->context = ParserContext::ReadNextSection;
  return SectionStream(std::move(state));
}

Encoding SectionStream::encoding() const noexcept { return state_->source.encoding(); }

ParserContext SectionStream::context() const noexcept { return state_->context; }

LineNo SectionStream::lines_read() const noexcept { return state_->source.lines_read(); }

namespace {

// Reads an open section's attribute lines: each untrimmed line goes to
// `expected(raw, lineno)` first, which takes it when it starts with the key
// expected next; any other attribute line, classified, to `take(key,
// value, lineno)`.  The first line that is no attribute goes to `pending`,
// for next().
template <typename Expected, typename Take>
void read_section_lines(LineSource& source, TextLine& pending, bool& has_pending, Expected&& expected,
                        Take&& take) {
  source.read_raw([&](std::string_view raw, LineNo lineno) {
    if (expected(raw, lineno)) return true;
    TextLine line;
    if (!LineSource::classify(raw, lineno, line)) return true;
    if (line.classified.kind != LineKind::Attribute) {
      pending = line;
      has_pending = true;
      return false;
    }
    take(line.classified.key, line.classified.value, lineno);
    return true;
  });
}

}  // namespace

// A line that starts with the key expected next is handed over untrimmed:
// 98 % of a document's lines are, and they skip classification.
void SectionStream::read_values(DocumentValues& values) {
  State& s = *state_;
  read_section_lines(
      s.source, s.pending, s.has_pending, [&](std::string_view raw, LineNo) { return values.set_expected(raw); },
      [&](std::string_view key, std::string_view value, LineNo) { values.set(key, value); });
}

// The same reading as read_values(), for a caller that keeps every line.
void SectionStream::read_attributes(AttributeLines& lines) {
  State& s = *state_;
  read_section_lines(
      s.source, s.pending, s.has_pending,
      [&](std::string_view raw, LineNo lineno) { return lines.take_expected(raw, lineno); },
      [&](std::string_view key, std::string_view value, LineNo lineno) { lines.take(key, value, lineno); });
}

Result<bool, ParseError> SectionStream::next(SectionEvent& event) {
  State& s = *state_;
  if (!holds_line_views(s.context)) s.source.release();
  TextLine line;
  if (s.has_pending) {
    line = s.pending;
    s.has_pending = false;
  } else if (!s.source.next(line)) {
    if (s.context == ParserContext::Finished) return false;
    return fail(ParseError::plain(ErrorKind::Unfinished));
  }
  const LineKind kind = line.classified.kind;
  if (kind == LineKind::Unrecognized)
    return fail(ParseError::unrecognized_line(line.lineno, std::string(line.text)));
  event.lineno = line.lineno;
  event.line = line.text;
  event.key = line.classified.key;
  event.value = line.classified.value;
  event.section_type = s.section;
  switch (s.context) {
    case ParserContext::Init:
      if (kind != LineKind::ExchangeStart) break;
      event.kind = EventKind::Start;
      s.context = ParserContext::Header;
      return true;
    case ParserContext::Header:
    case ParserContext::ReadNextSection:
      if (kind == LineKind::Attribute && s.context == ParserContext::Header) {
        event.kind = EventKind::HeaderAttribute;
        return true;
      }
      if (kind == LineKind::FileEnd && s.context == ParserContext::ReadNextSection) {
        event.kind = EventKind::End;
        s.context = ParserContext::Finished;
        return true;
      }
      if (!opens_section(kind)) break;
      s.section = kind == LineKind::AccountStart ? SectionType::Account : SectionType::Document;
      s.context = kind == LineKind::AccountStart ? ParserContext::Account : ParserContext::Document;
      event.kind = EventKind::SectionStart;
      event.section_type = s.section;
      return true;
    case ParserContext::Account:
    case ParserContext::Document:
      if (kind == LineKind::Attribute) {
        event.kind = EventKind::SectionAttribute;
        return true;
      }
      if (kind != closing_line(s.section)) break;
      event.kind = EventKind::SectionEnd;
      s.context = ParserContext::ReadNextSection;
      return true;
    case ParserContext::Finished: break;
  }
  return fail(unexpected(line, s.context));
}

Result<RawStatement, ParseError> read_sections(std::string_view input) {
  auto stream = SectionStream::open(input);
  if (!stream) return fail(std::move(stream).error());
  RawStatement out;
  out.encoding = stream->encoding();
  SectionEvent e;
  for (;;) {
    auto more = stream->next(e);
    if (!more) return fail(std::move(more).error());
    if (!*more) return out;
    switch (e.kind) {
      case EventKind::HeaderAttribute:
        out.header.push_back({e.lineno, std::string(e.key), std::string(e.value)});
        break;
      case EventKind::SectionStart: {
        RawSection& section = out.sections.emplace_back();
        section.type = e.section_type;
        if (e.section_type == SectionType::Document) section.doc_type = e.value;
        section.start_line = e.lineno;
        break;
      }
      case EventKind::SectionAttribute:
        out.sections.back().attributes.push_back({e.lineno, std::string(e.key), std::string(e.value)});
        break;
      case EventKind::SectionEnd: out.sections.back().end_line = e.lineno; break;
      case EventKind::Start:
      case EventKind::End: break;
    }
  }
}

}  // namespace mirtle
