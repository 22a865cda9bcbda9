// Stage 3: records from the section stream.  Keeps the header and the open
// section's attributes, calls the hooks when a section closes, builds the
// interval or document and hands it to a sink.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "mirtle/sections.hpp"
#include "mirtle/statement.hpp"
#include "attribute_list.hpp"
#include "builders.hpp"

namespace mirtle {

class RecordReader;

// Runs a stream through a reader until the text ends or fails.  The
// attribute lines of a document that collects its values are read straight
// into them (SectionStream::read_values), with no event each.
Result<Ok, ParseError> read_records(SectionStream& stream, RecordReader& reader);

class RecordReader {
 public:
  RecordReader(std::span<Hook* const> hooks, Encoding encoding, RecordSink& sink) noexcept
      : hooks_(hooks), encoding_(encoding), sink_(sink) {}

  // Takes one event.  The views of an open section's events must stay
  // valid until its SectionEnd has been taken.
  Result<Ok, ParseError> take(const SectionEvent& event);

  // Whether the open section's attributes go straight to its values: a
  // document's, without hooks.
  bool collects_values(SectionType type) const noexcept {
    return type == SectionType::Document && hooks_.empty();
  }
  // Where the attributes of such a section go, as take() would put them
  // from their events.
  DocumentValues& values() noexcept { return values_; }

  // For a later part of a statement: its header went with the first part.
  void skip_header() noexcept { header_sent_ = true; }

  // The header, complete once the first section has started.
  AttributeMap take_header() noexcept { return std::move(header_); }

 private:
  Result<Ok, ParseError> close_account(LineNo lineno);
  Result<Ok, ParseError> close_document(LineNo lineno);
  // Runs the hooks over a copy of the section; the builders then read the
  // attributes from `hooked_views_`.
  Result<Ok, ParseError> run_hooks(LineNo lineno, SectionType type);
  std::span<const AttributeView> attributes() const noexcept;

  std::span<Hook* const> hooks_;
  Encoding encoding_;
  RecordSink& sink_;
  bool header_sent_ = false;
  AttributeMap header_;
  AttributeList section_;  // reused from section to section
  // Without hooks a document section needs only its values by field: they are
  // collected here instead of in `section_`.
  DocumentValues values_;
  TextBlocks texts_;   // the documents' texts
  Document document_;  // built here, then moved to the sink
  std::string_view doc_type_;
  LineNo section_start_ = 0;  // the open section's start line
  AttributeMap hooked_;                     // reused; only with hooks
  std::vector<AttributeView> hooked_views_;  // views of hooked_
};

}  // namespace mirtle
