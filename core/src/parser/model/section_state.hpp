// The section stream's state, for the record pump that reads a document's
// attribute lines without going through events.
#pragma once

#include "mirtle/sections.hpp"
#include "text/lines.hpp"

namespace mirtle {

struct SectionStream::State {
  explicit State(LineSource&& lines) noexcept : source(std::move(lines)) {}

  LineSource source;
  ParserContext context = ParserContext::Init;
  SectionType section = SectionType::Document;  // of the open section
  // A line read ahead by the pump, to be reported by next() first.
  bool has_pending = false;
  TextLine pending;

  // Passes the attribute lines of the open section to `take(key, value)`
  // and stops before the first other line, which next() then reports.
  template <typename Take>
  void read_attributes(Take&& take) {
    TextLine line;
    while (source.next(line)) {
      if (line.classified.kind != LineKind::Attribute) {
        pending = line;
        has_pending = true;
        return;
      }
      take(line.classified.key, line.classified.value);
    }
  }
};

}  // namespace mirtle
