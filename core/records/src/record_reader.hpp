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
// attribute lines of a section are read in one call each, with no event a
// line: into the document's values (SectionStream::read_values) without
// hooks, and into the section's list, and a document's values, with them.
Result<Ok, ParseError> read_records(SectionStream& stream, RecordReader& reader);

class RecordReader {
 public:
  RecordReader(std::span<Hook* const> hooks, Encoding encoding, RecordSink& sink) noexcept
      : hooks_(hooks), encoding_(encoding), sink_(sink), lines_(*this) {}
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  // Takes one event.  The views of an open section's events must stay
  // valid until its SectionEnd has been taken.
  Result<Ok, ParseError> take(const SectionEvent& event);

  // Right after a SectionStart has been taken: reads the section's
  // attribute lines from `stream` as take() would take their events.
  void read_section(SectionStream& stream, SectionType type) {
    if (!hooks_.empty()) {
      lines_.document = type == SectionType::Document;
      stream.read_attributes(lines_);
    } else if (type == SectionType::Document) {
      stream.read_values(values_);
    }
  }

  // For a later part of a statement: its header went with the first part.
  void skip_header() noexcept { header_sent_ = true; }

  // The header, complete once the first section has started.
  AttributeMap take_header() noexcept { return std::move(header_); }

 private:
  // A section's lines, with hooks: into the list the hooks see, and a
  // document's also into its values, read by key as without hooks.
  class HookedLines final : public SectionStream::AttributeLines {
   public:
    explicit HookedLines(RecordReader& reader) noexcept : reader_(reader) {}
    bool take_expected(std::string_view line, LineNo) override {
      std::string_view key, value;
      const std::uint64_t seen = reader_.values_.seen();
      if (!document || !reader_.values_.set_expected(line, key, value)) return false;
      // A field not seen before in the section is a key the list lacks.
      if (reader_.values_.seen() != seen) {
        reader_.section_.append(key, value);
      } else {
        reader_.section_.set(key, value);
      }
      return true;
    }
    void take(std::string_view key, std::string_view value, LineNo) override { reader_.set(key, value, document); }
    bool document = false;

   private:
    RecordReader& reader_;
  };

  void set(std::string_view key, std::string_view value, bool document) {
    if (document) values_.set(key, value);
    if (!document || !hooks_.empty()) section_.set(key, value);
  }
  Result<Ok, ParseError> close_account(LineNo lineno);
  Result<Ok, ParseError> close_document(LineNo lineno);
  // Runs the hooks over the section's attributes.  While none changes them
  // each gets them as views; from the first that does, the builders read
  // them from `hooked_`.
  Result<Ok, ParseError> run_hooks(LineNo lineno, SectionType type);
  // Whether a hook changed the open section: its attributes are in `hooked_`.
  bool changed() const noexcept { return changed_; }

  std::span<Hook* const> hooks_;
  Encoding encoding_;
  RecordSink& sink_;
  bool header_sent_ = false;
  AttributeMap header_;
  // With hooks, the open section's attributes, reused from section to
  // section; without, accounts only.
  AttributeList section_;
  // A document section's values by field, what a document is built from
  // when no hook changed it.
  DocumentValues values_;
  HookedLines lines_;
  TextBlocks texts_;   // the documents' texts
  Document document_;  // built here, then moved to the sink
  std::string_view doc_type_;
  LineNo section_start_ = 0;  // the open section's start line
  AttributeMap hooked_;                     // reused; the section as a hook changed it
  std::vector<AttributeView> hooked_views_;  // views of hooked_
  bool changed_ = false;
};

}  // namespace mirtle
