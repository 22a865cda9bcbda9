#include "stream.hpp"

#include <atomic>
#include <limits>

#include "mirtle/two_parts.hpp"

namespace mirtle_native {
namespace {

using mirtle::EventKind;

// Collects one open section in reused scratch space, then hands out an
// exact-size copy: a statement's sections need no more than that.
class SectionBuilder {
 public:
  void open(const mirtle::SectionEvent& e) {
    section_ = {};
    section_.type = e.section_type;  // the event's section type
    section_.start_line = e.lineno;
    text_.clear();
    lines_.clear();
    if (e.section_type == mirtle::SectionType::Document) {
      text_.assign(e.value);
      section_.doc_type_length = length_of(e.value.size());
    }
  }

  void add(const mirtle::SectionEvent& e) {
    lines_.push_back({e.lineno, length_of(text_.size()), length_of(e.key.size()), length_of(e.value.size())});
    text_.append(e.key);
    text_.append(e.value);
  }

  CompactSection close(mirtle::LineNo end_line) {
    section_.end_line = end_line;
    section_.text.assign(text_);
    section_.lines.assign(lines_.begin(), lines_.end());
    return std::move(section_);
  }

 private:
  // Sections are parts of one in-memory text well under 4 GiB in practice;
  // a longer one cannot be represented and is reported as out of memory.
  static std::uint32_t length_of(std::size_t n) {
    if (n > std::numeric_limits<std::uint32_t>::max() / 2) throw std::bad_alloc();
    return static_cast<std::uint32_t>(n);
  }

  CompactSection section_;
  std::string text_;
  std::vector<CompactSection::Line> lines_;
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
// early, with either, once `stop` is set.
mirtle::Result<mirtle::Ok, mirtle::ParseError> read_into(mirtle::SectionStream& stream, CompactStatement& out,
                                                         const std::atomic<bool>* stop) {
  SectionBuilder builder;
  mirtle::SectionEvent e;
  for (;;) {
    auto more = stream.next(e);
    if (!more) return mirtle::fail(std::move(more).error());
    if (!*more) return mirtle::Ok{};
    switch (e.kind) {
      case EventKind::HeaderAttribute:
        out.header.push_back({e.lineno, std::string(e.key), std::string(e.value)});
        break;
      case EventKind::SectionStart: builder.open(e); break;
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
  explicit CompactParts(CompactStatement& out) noexcept : out_(out) {}

  mirtle::Result<mirtle::Ok, mirtle::ParseError> read_first(mirtle::SectionStream& stream) override {
    out_.encoding = stream.encoding();
    return read_into(stream, out_, nullptr);
  }
  mirtle::Result<mirtle::Ok, mirtle::ParseError> read_second(mirtle::SectionStream& stream,
                                                             const std::atomic<bool>& stop) override {
    return read_into(stream, part_, &stop);
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
  CompactStatement part_;  // no header: it went with the first part
};

}  // namespace

mirtle::Result<CompactStatement, mirtle::ParseError> read_compact(std::string_view input,
                                                                  const mirtle::ParseOptions& options) {
  if (mirtle::may_read_in_parts({}, input, options)) {
    CompactStatement out;
    CompactParts parts(out);
    if (auto read = mirtle::read_in_two_parts(input, parts)) {
      if (!*read) return mirtle::fail(std::move(*read).error());
      return out;
    }
  }
  auto stream = mirtle::SectionStream::open(input);
  if (!stream) return mirtle::fail(std::move(stream).error());
  CompactStatement out;
  out.encoding = stream->encoding();
  auto read = read_into(*stream, out, nullptr);
  if (!read) return mirtle::fail(std::move(read).error());
  return out;
}

}  // namespace mirtle_native
