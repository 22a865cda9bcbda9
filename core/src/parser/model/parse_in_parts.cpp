// A large statement read in two parts at once.  The text is cut at a line
// feed past its middle, before a document's start line; the second part
// is read on a thread of its own as if it followed the end of a section.
// That is what the first part, read on the calling thread, must then end
// with: if it does, the two results joined are the whole text's (line
// numbers of the second part moved on by the first part's lines); if it
// does not, the text is read whole after all.  Checking UTF-8 is shared as
// well: each thread checks its own part.
#include "parser/model/parse_in_parts.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <exception>
#include <latch>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "parser/model/record_reader.hpp"
#include "parser/model/statement_sink.hpp"
#include "text/decode.hpp"
#include "text/lines.hpp"

namespace mirtle {

namespace {

// `text` in windows-1251, for keywords of ASCII and the letters А..я.
template <std::size_t N>
constexpr std::array<char, N> windows1251_keyword(std::string_view text) {
  std::array<char, N> out{};
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size(); ++n) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out[n] = static_cast<char>(c);
      ++i;
      continue;
    }
    const unsigned code = (c & 0x1Fu) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
    out[n] = static_cast<char>(code - 0x410 + 0xC0);  // А (U+0410) is 0xC0
    i += 2;
  }
  return out;
}
constexpr std::size_t kDocumentStartLetters = 14;  // С-е-к-ц-и-я-Д-о-к-у-м-е-н-т
static_assert(keyword::kDocumentStart.size() == 2 * kDocumentStartLetters);
constexpr auto kDocumentStart1251 = windows1251_keyword<kDocumentStartLetters>(keyword::kDocumentStart);
static_assert(kDocumentStart1251[0] == '\xD1' && kDocumentStart1251[13] == '\xF2');  // С, т

bool starts_document(std::string_view rest) noexcept {
  const std::string_view in1251(kDocumentStart1251.data(), kDocumentStart1251.size());
  return rest.starts_with(keyword::kDocumentStart) || rest.starts_with(in1251);
}

// Bytes looked through past the middle for a document's start: documents
// take 1 to 1.7 KB, so one starts well within this, and the scan costs
// little when none does.
constexpr std::size_t kCutSearchBytes = std::size_t{1} << 20;

// Where the second part starts: the first line past the middle that starts
// a document, in UTF-8 or windows-1251; npos if none is near.
std::size_t cut_point(std::string_view input) noexcept {
  const std::size_t limit = std::min(input.size(), input.size() / 2 + kCutSearchBytes);
  std::size_t at = input.size() / 2;
  while (at < limit) {
    const void* lf = std::memchr(input.data() + at, '\n', limit - at);
    if (lf == nullptr) break;
    at = static_cast<std::size_t>(static_cast<const char*>(lf) - input.data()) + 1;
    if (starts_document(input.substr(at))) return at;
  }
  return std::string_view::npos;
}

// Thrown through the second part's reading when the first part has made
// its result useless.
struct Stopped {};

// The records of the second part, kept in order for the first part's sink.
class PartSink final : public RecordSink {
 public:
  struct FiledInterval {
    std::string account;
    Interval interval;
    LineNo lineno;
  };

  PartSink(std::size_t text_size, const std::atomic<bool>& stop) : stop_(stop) {
    documents_.reserve(text_size / kDocumentBytes);
  }
  void on_header(Encoding, const AttributeMap&) override {}  // never: it went with the first part
  void on_interval(std::string_view account, Interval&& interval, LineNo lineno) override {
    check_stop();
    intervals_.push_back({std::string(account), std::move(interval), lineno});
  }
  void on_document(Document&& document, LineNo) override {
    check_stop();
    documents_.push_back(std::move(document));
  }
  void on_warning(Warning&& warning) override { warnings_.push_back(std::move(warning)); }

  // Hands the records to `sink`, their lines moved on by `lines_before`.
  void replay(StatementSink& sink, LineNo lines_before) {
    for (FiledInterval& i : intervals_) sink.on_interval(i.account, std::move(i.interval), i.lineno + lines_before);
    for (Document& d : documents_) sink.on_document(std::move(d), 0);
    for (Warning& w : warnings_) sink.on_warning(Warning{w.lineno + lines_before, std::move(w.message)});
  }

 private:
  void check_stop() const {
    if (stop_.load(std::memory_order_relaxed)) throw Stopped{};
  }

  const std::atomic<bool>& stop_;
  std::vector<FiledInterval> intervals_;
  std::vector<Document> documents_;
  std::vector<Warning> warnings_;
};

// The second part, read on its own thread.  It first checks whether its
// bytes are UTF-8 and tells the first part, which needs that to decide the
// encoding; then it reads its lines as UTF-8 if they are, else as
// windows-1251 (the whole text cannot be UTF-8 then).
class SecondPart {
 public:
  explicit SecondPart(std::string_view text) : text_(text), sink_(text.size(), stop_) {}

  void run() noexcept {
    is_utf8_ = text::is_valid_utf8(text_.data(), text_.data() + text_.size());
    checked_.count_down();
    try {
      read();
    } catch (const Stopped&) {
    } catch (...) {
      thrown_ = std::current_exception();  // std::bad_alloc
    }
  }

  // Waits for the check of the part's bytes.
  bool is_utf8() const {
    checked_.wait();
    return is_utf8_;
  }
  void stop() noexcept { stop_.store(true, std::memory_order_relaxed); }

  // Once the thread has ended: the part's failure, or its records handed to
  // `sink`.  Rethrows what the thread threw.
  Result<Ok, ParseError> finish(StatementSink& sink, LineNo lines_before) {
    if (thrown_) std::rethrow_exception(thrown_);
    if (!*read_) {
      ParseError error = std::move(*read_).error();
      if (error.lineno != 0) error.lineno += lines_before;
      return fail(std::move(error));
    }
    sink_.replay(sink, lines_before);
    return Ok{};
  }

 private:
  void read() {
    text::DecodedText part;
    part.encoding = is_utf8_ ? Encoding::UTF8 : Encoding::CP1251;
    part.text = text_;
    part.per_line = !is_utf8_;
    SectionStream stream = RecordPump::later_part(LineSource::over_part(std::move(part)));
    RecordReader reader({}, is_utf8_ ? Encoding::UTF8 : Encoding::CP1251, sink_);
    reader.skip_header();
    read_.emplace(RecordPump::run(stream, reader));
  }

  std::string_view text_;
  std::atomic<bool> stop_{false};
  std::latch checked_{1};
  bool is_utf8_ = false;
  PartSink sink_;
  std::optional<Result<Ok, ParseError>> read_;
  std::exception_ptr thrown_;
};

// Joins the second part's thread on every way out, stopping it first
// unless its result is wanted.
class Joiner {
 public:
  Joiner(std::thread& thread, SecondPart& part) noexcept : thread_(thread), part_(part) {}
  ~Joiner() {
    if (!thread_.joinable()) return;
    part_.stop();
    thread_.join();
  }
  void join() { thread_.join(); }

 private:
  std::thread& thread_;
  SecondPart& part_;
};

// The first part, on this thread, then the two joined.
std::optional<ParseResult> read_parts(std::string_view input, std::size_t cut, SecondPart& second, Joiner& joiner) {
  const char* const cut_at = input.data() + cut;
  auto decoded = text::decode_input(input, [&](std::string_view text) {
    if (text.data() >= cut_at) return text::is_valid_utf8(text.data(), text.data() + text.size());
    return text::is_valid_utf8(text.data(), cut_at) && second.is_utf8();
  });
  if (!decoded) return ParseResult(fail(ParseError::plain(decoded.error())));
  // UTF-16 text is decoded anew, away from the part; and a second part read
  // as UTF-8 is no part of a windows-1251 text.
  if (decoded->owned || decoded->text.data() >= cut_at ||
      (decoded->encoding == Encoding::UTF8) != second.is_utf8())
    return std::nullopt;
  const Encoding encoding = decoded->encoding;
  decoded->text = decoded->text.substr(0, static_cast<std::size_t>(cut_at - decoded->text.data()));
  auto source = LineSource::open(std::move(decoded).value());
  if (!source) return ParseResult(fail(ParseError::plain(source.error())));

  SectionStream stream = RecordPump::first_part(std::move(source).value());
  StatementSink sink(input.size());
  RecordReader reader({}, encoding, sink);
  auto read = RecordPump::run(stream, reader);
  if (!read) return ParseResult(fail(std::move(read).error()));  // the whole text fails there too
  if (RecordPump::context_of(stream) != ParserContext::ReadNextSection) return std::nullopt;

  joiner.join();
  auto joined = second.finish(sink, RecordPump::lines_read(stream));
  if (!joined) return ParseResult(fail(std::move(joined).error()));
  return ParseResult(sink.finish(reader.take_header()));
}

}  // namespace

std::optional<ParseResult> parse_in_two_parts(std::string_view input) {
  const std::size_t cut = cut_point(input);
  if (cut == std::string_view::npos) return std::nullopt;
  SecondPart second(input.substr(cut));
  std::thread thread;
  try {
    thread = std::thread(&SecondPart::run, &second);
  } catch (const std::system_error&) {
    return std::nullopt;  // no thread to be had: the text is read whole
  }
  Joiner joiner(thread, second);
  return read_parts(input, cut, second, joiner);
}

}  // namespace mirtle
