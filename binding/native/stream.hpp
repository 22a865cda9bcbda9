// A statement's section stream in compact form: the lines of many
// sections share one block of memory, so reading a section costs no
// allocation of its own.  Their texts are copied into the blocks once, or,
// when the caller keeps the input as it is for as long as the sections
// live, left where they are in a UTF-8 input.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mirtle/sections.hpp"
#include "mirtle/statement.hpp"

namespace mirtle_native {

// Offsets are from the section's `base`.
struct CompactLine {
  mirtle::LineNo lineno;
  std::uint32_t key_offset;
  std::uint32_t key_length;
  std::uint32_t value_offset;
  std::uint32_t value_length;
};

// The memory of consecutive sections, kept by each of them: their lines,
// and their texts unless these stay in the input.
struct SectionBlock {
  SectionBlock(std::size_t lines_room, std::size_t bytes_room)
      : lines(new CompactLine[lines_room]), text(new char[bytes_room]), line_room(lines_room), text_room(bytes_room) {}

  std::unique_ptr<CompactLine[]> lines;
  std::unique_ptr<char[]> text;
  std::size_t line_room, text_room;
  std::size_t lines_used = 0, text_used = 0;
};

struct CompactSection {
  using Line = CompactLine;

  mirtle::SectionType type = mirtle::SectionType::Document;
  mirtle::LineNo start_line = 0;
  mirtle::LineNo end_line = 0;
  std::uint32_t doc_type_offset = 0;
  std::uint32_t doc_type_length = 0;
  std::shared_ptr<const SectionBlock> block;  // holds `lines`, and the texts unless in the input
  const char* base = nullptr;                 // in the block or in the input
  std::span<Line> lines;

  std::string_view doc_type() const noexcept { return {base + doc_type_offset, doc_type_length}; }
  std::string_view key(const Line& l) const noexcept { return {base + l.key_offset, l.key_length}; }
  std::string_view value(const Line& l) const noexcept { return {base + l.value_offset, l.value_length}; }
  mirtle::RawSection to_raw() const;
  bool operator==(const CompactSection& other) const noexcept;
};

struct CompactStatement {
  mirtle::Encoding encoding = mirtle::Encoding::UTF8;
  std::vector<mirtle::RawAttribute> header;  // file order, repeats kept
  std::vector<CompactSection> sections;      // file order
};

// Reads the whole stream; the same errors as mirtle::read_sections.  A
// large text is read in two parts at once, as `options` allow parse_statement
// to.  With `in_place`, the sections' texts in a UTF-8 input stay there: the
// caller keeps `input` unchanged for as long as they live.  Throws only
// std::bad_alloc.
mirtle::Result<CompactStatement, mirtle::ParseError> read_compact(std::string_view input,
                                                                  const mirtle::ParseOptions& options,
                                                                  bool in_place);

}  // namespace mirtle_native
