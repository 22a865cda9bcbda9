// The section stream's state.
#pragma once

#include "mirtle/lines.hpp"
#include "mirtle/sections.hpp"

namespace mirtle {

struct SectionStream::State {
  explicit State(LineSource&& lines) noexcept : source(std::move(lines)) {}

  LineSource source;
  ParserContext context = ParserContext::Init;
  SectionType section = SectionType::Document;  // of the open section
  // A line read ahead by read_values(), to be reported by next() first.
  bool has_pending = false;
  TextLine pending;
};

}  // namespace mirtle
