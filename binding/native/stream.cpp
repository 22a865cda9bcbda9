#include "stream.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <optional>
#include <utility>

#include "mirtle/two_parts.hpp"
#include "mirtle/unicode.hpp"

namespace mirtle_native {
namespace {

using mirtle::EventKind;

// Writes each section straight into the block it will keep.  A section
// that outgrows its block moves, with what it has so far, to a new one;
// blocks grow from small (a statement of few sections stays small) to
// large (few blocks for a large statement).  Texts found in `input`, which
// outlives the sections, are left there.  Copied texts are placed from the
// block's start, and a key the section before wrote on the same line of
// its own is not written again: sections mostly list the same keys in the
// same order, and keys are half the bytes.
class SectionBuilder final : public mirtle::SectionStream::AttributeLines {
 public:
  explicit SectionBuilder(std::string_view input) noexcept : input_(input) {}

  void open(const mirtle::SectionEvent& e) {
    section_ = {};
    section_.type = e.section_type;  // the event's section type
    section_.start_line = e.lineno;
    in_input_ = in_input(e.line);
    base_ = in_input_ ? e.line.data() : nullptr;
    if (!block_) grow(0, 0);
    first_line_ = block_->lines_used;
    if (e.section_type == mirtle::SectionType::Document) {
      // Placed first: a block that grows meanwhile has no document type to move.
      section_.doc_type_offset = place(e.value);
      section_.doc_type_length = length_of(e.value.size());
    }
  }

  void add(const mirtle::SectionEvent& e) { take(e.key, e.value, e.lineno); }

  void take(std::string_view key, std::string_view value, mirtle::LineNo lineno) override {
    make_room(1, key.size() + value.size());
    const std::optional<std::uint32_t> shared = written_key(key);
    add(shared ? *shared : place(key), key.size(), value, lineno);
  }

  // A line whose key is the one the section before has on the same line
  // needs no classifying, and, copied, no copy of its key.
  bool take_expected(std::string_view line, mirtle::LineNo lineno) override {
    const std::size_t at = block_->lines_used - first_line_;
    if (at >= previous_lines_) return false;
    const CompactLine& before = block_->lines[previous_line_ + at];
    const std::size_t size = before.key_length;
    if (line.size() <= size || line[size] != '=' ||
        std::memcmp(line.data(), previous_base_ + before.key_offset, size) != 0)
      return false;
    const std::string_view value = mirtle::text::trim(line.substr(size + 1));
    make_room(1, size + value.size());
    const bool shared = !in_input_ && previous_lines_ > at && previous_base_ == block_->text.get();
    add(shared ? before.key_offset : place(line.substr(0, size)), size, value, lineno);
    return true;
  }

  CompactSection close(mirtle::LineNo end_line) {
    section_.end_line = end_line;
    section_.base = in_input_ ? base_ : block_->text.get();
    section_.lines = std::span(block_->lines.get() + first_line_, block_->lines_used - first_line_);
    section_.block = block_;
    previous_line_ = first_line_;
    previous_lines_ = section_.lines.size();
    previous_base_ = section_.base;
    return std::move(section_);
  }

 private:
  // A line whose key is placed already; room is made.
  void add(std::uint32_t key, std::size_t key_size, std::string_view value, mirtle::LineNo lineno) {
    const std::uint32_t at = place(value);
    block_->lines[block_->lines_used++] = {lineno, key, length_of(key_size), at, length_of(value.size())};
  }

  static constexpr std::size_t kFirstLines = 64, kLastLines = 16384;
  static constexpr std::size_t kBytesPerLine = 32;

  // Sections are parts of one in-memory text well under 4 GiB in practice;
  // a longer one cannot be represented and is reported as out of memory.
  static std::uint32_t length_of(std::size_t n) {
    if (n > std::numeric_limits<std::uint32_t>::max() / 2) throw std::bad_alloc();
    return static_cast<std::uint32_t>(n);
  }

  // Whether `text` lies in the input; a section's texts all do, or none.
  bool in_input(std::string_view text) const noexcept {
    return !input_.empty() && std::less_equal<>()(input_.data(), text.data()) &&
           std::less_equal<>()(text.data() + text.size(), input_.data() + input_.size());
  }

  // Where `key` is in the block when the section before holds it on the
  // line this one is about to add.
  std::optional<std::uint32_t> written_key(std::string_view key) const noexcept {
    const std::size_t at = block_->lines_used - first_line_;
    if (in_input_ || at >= previous_lines_ || previous_base_ != block_->text.get()) return std::nullopt;
    const CompactLine& line = block_->lines[previous_line_ + at];
    if (line.key_length != key.size() || std::memcmp(block_->text.get() + line.key_offset, key.data(), key.size()) != 0)
      return std::nullopt;
    return line.key_offset;
  }

  // Where `text` is, from the section's base: in the input, or copied.
  std::uint32_t place(std::string_view text) {
    if (in_input_) return length_of(static_cast<std::size_t>(text.data() - base_));
    make_room(0, text.size());
    return copy(text);
  }

  // `text` at the end of the block's texts, which has room for it.
  std::uint32_t copy(std::string_view text) {
    const std::size_t offset = block_->text_used;
    if (!text.empty()) std::memcpy(block_->text.get() + offset, text.data(), text.size());
    block_->text_used += text.size();
    return length_of(offset);
  }

  void make_room(std::size_t lines, std::size_t bytes) {
    if (in_input_) bytes = 0;
    if (block_->line_room - block_->lines_used < lines || block_->text_room - block_->text_used < bytes)
      grow(lines, bytes);
  }

  // A new block with room for the open section's lines and texts so far
  // and `lines` and `bytes` more, which takes them over.
  void grow(std::size_t lines, std::size_t bytes) {
    const std::span<const CompactLine> held =
        block_ ? std::span<const CompactLine>(block_->lines.get() + first_line_, block_->lines_used - first_line_)
               : std::span<const CompactLine>();
    std::size_t held_bytes = section_.doc_type_length;
    for (const CompactLine& line : held) held_bytes += line.key_length + line.value_length;
    line_room_ = std::min(line_room_ == 0 ? kFirstLines : line_room_ * 2, kLastLines);
    const std::size_t line_room = std::max(line_room_, 2 * (held.size() + lines));
    const std::size_t text_room = in_input_ ? 0 : std::max(line_room * kBytesPerLine, 2 * (held_bytes + bytes));
    std::shared_ptr<SectionBlock> old = std::exchange(block_, std::make_shared<SectionBlock>(line_room, text_room));
    std::copy(held.begin(), held.end(), block_->lines.get());
    block_->lines_used = held.size();
    first_line_ = 0;
    previous_lines_ = 0;
    if (in_input_ || !old) return;
    // Texts copied anew, keys shared with earlier sections included.
    const char* const from = old->text.get();
    section_.doc_type_offset = copy({from + section_.doc_type_offset, section_.doc_type_length});
    for (std::size_t i = 0; i < held.size(); ++i) {
      CompactLine& line = block_->lines[i];
      line.key_offset = copy({from + line.key_offset, line.key_length});
      line.value_offset = copy({from + line.value_offset, line.value_length});
    }
  }

  std::string_view input_;  // empty: every text is copied
  CompactSection section_;
  bool in_input_ = false;   // the open section's texts are in the input
  const char* base_ = nullptr;  // the open section's start line, when in the input
  std::shared_ptr<SectionBlock> block_;
  std::size_t line_room_ = 0;  // of the last block made, before a large section's needs
  std::size_t first_line_ = 0;  // the open section's first line in block_
  // The lines of the section before, in block_, whose keys are expected
  // again and, when they are in the block's texts, shared.
  std::size_t previous_line_ = 0, previous_lines_ = 0;
  const char* previous_base_ = nullptr;
};

}  // namespace

mirtle::RawSection CompactSection::to_raw() const {
  mirtle::RawSection raw;
  raw.type = type;
  raw.doc_type.assign(doc_type());
  raw.start_line = start_line;
  raw.end_line = end_line;
  raw.attributes.reserve(lines.size());
  for (const Line& l : lines) raw.attributes.push_back({l.lineno, std::string(key(l)), std::string(value(l))});
  return raw;
}

bool CompactSection::operator==(const CompactSection& other) const noexcept {
  if (type != other.type || start_line != other.start_line || end_line != other.end_line ||
      doc_type() != other.doc_type() || lines.size() != other.lines.size())
    return false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line &a = lines[i], &b = other.lines[i];
    if (a.lineno != b.lineno || key(a) != other.key(b) || value(a) != other.value(b)) return false;
  }
  return true;
}

namespace {

// Reads `stream` into `out` up to its end or its first error; gives up
// early, with either, once `stop` is set.  Texts in `in_place` stay there.
mirtle::Result<mirtle::Ok, mirtle::ParseError> read_into(mirtle::SectionStream& stream, CompactStatement& out,
                                                         std::string_view in_place, const std::atomic<bool>* stop) {
  SectionBuilder builder(in_place);
  mirtle::SectionEvent e;
  for (;;) {
    auto more = stream.next(e);
    if (!more) return mirtle::fail(std::move(more).error());
    if (!*more) return mirtle::Ok{};
    switch (e.kind) {
      case EventKind::HeaderAttribute:
        out.header.push_back({e.lineno, std::string(e.key), std::string(e.value)});
        break;
      case EventKind::SectionStart:
        builder.open(e);
        stream.read_attributes(builder);
        break;
      case EventKind::SectionAttribute: builder.add(e); break;
      case EventKind::SectionEnd:
        out.sections.push_back(builder.close(e.lineno));
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) return mirtle::Ok{};
        break;
      case EventKind::Start:
      case EventKind::End: break;
    }
  }
}

void move_lines_on(CompactSection& section, mirtle::LineNo lines_before) noexcept {
  section.start_line += lines_before;
  section.end_line += lines_before;
  for (CompactSection::Line& line : section.lines) line.lineno += lines_before;
}

// Each part's sections in a statement of their own, the second part's
// added to the first's at the end.
class CompactParts final : public mirtle::TwoPartReader {
 public:
  CompactParts(CompactStatement& out, std::string_view in_place) noexcept : out_(out), in_place_(in_place) {}

  mirtle::Result<mirtle::Ok, mirtle::ParseError> read_first(mirtle::SectionStream& stream) override {
    out_.encoding = stream.encoding();
    return read_into(stream, out_, in_place_, nullptr);
  }
  mirtle::Result<mirtle::Ok, mirtle::ParseError> read_second(mirtle::SectionStream& stream,
                                                             const std::atomic<bool>& stop) override {
    return read_into(stream, part_, in_place_, &stop);
  }
  void join(mirtle::LineNo lines_before) override {
    out_.sections.reserve(out_.sections.size() + part_.sections.size());
    for (CompactSection& section : part_.sections) {
      move_lines_on(section, lines_before);
      out_.sections.push_back(std::move(section));
    }
  }

 private:
  CompactStatement& out_;
  std::string_view in_place_;
  CompactStatement part_;  // no header: it went with the first part
};

}  // namespace

mirtle::Result<CompactStatement, mirtle::ParseError> read_compact(std::string_view input,
                                                                  const mirtle::ParseOptions& options,
                                                                  bool in_place) {
  const std::string_view kept = in_place ? input : std::string_view();
  if (mirtle::may_read_in_parts({}, input, options)) {
    CompactStatement out;
    CompactParts parts(out, kept);
    if (auto read = mirtle::read_in_two_parts(input, parts)) {
      if (!*read) return mirtle::fail(std::move(*read).error());
      return out;
    }
  }
  auto stream = mirtle::SectionStream::open(input);
  if (!stream) return mirtle::fail(std::move(stream).error());
  CompactStatement out;
  out.encoding = stream->encoding();
  auto read = read_into(*stream, out, kept, nullptr);
  if (!read) return mirtle::fail(std::move(read).error());
  return out;
}

}  // namespace mirtle_native
