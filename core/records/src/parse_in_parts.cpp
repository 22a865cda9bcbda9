// A large statement read in two parts at once.  The text is cut at a line
// feed past its middle, before a document's start line; the second part
// is read on a thread of its own as if it followed the end of a section.
// That is what the first part, read on the calling thread, must then end
// with: if it does, the two results joined are the whole text's (line
// numbers of the second part moved on by the first part's lines); if it
// does not, the text is read whole after all.  Checking UTF-8 is shared as
// well: each thread checks its own part.
#include "parse_in_parts.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "record_reader.hpp"
#include "statement_sink.hpp"
#include "mirtle/decode.hpp"

namespace mirtle {

namespace {

bool starts_document(std::string_view rest) noexcept {
  return rest.starts_with(keyword::kDocumentStart) || rest.starts_with(keyword_1251::kDocumentStart);
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

// Set once by one thread, waited for by another.  Not std::latch: where
// the standard library has no futex to wait on (MinGW's), its atomic wait
// can miss the wake-up and leave the waiter asleep for good.
class Signal {
 public:
  void set() {
    {
      const std::lock_guard lock(mutex_);
      set_ = true;
    }
    changed_.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return set_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool set_ = false;
};

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
    checked_.set();
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
    const Encoding encoding = is_utf8_ ? Encoding::UTF8 : Encoding::CP1251;
    SectionStream stream = SectionStream::resume(text_, encoding);
    RecordReader reader({}, encoding, sink_);
    reader.skip_header();
    read_.emplace(read_records(stream, reader));
  }

  std::string_view text_;
  std::atomic<bool> stop_{false};
  mutable Signal checked_;
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
  auto stream = SectionStream::open(std::move(decoded).value());
  if (!stream) return ParseResult(fail(std::move(stream).error()));

  StatementSink sink(input.size());
  RecordReader reader({}, encoding, sink);
  // The first part must end between sections, where the second starts: its
  // text then runs out as an unfinished statement's would.
  auto read = read_records(*stream, reader);
  if (read) return std::nullopt;  // "КонецФайла" before the cut
  if (read.error().kind != ErrorKind::Unfinished) return ParseResult(fail(std::move(read).error()));
  if (stream->context() != ParserContext::ReadNextSection) return std::nullopt;

  joiner.join();
  auto joined = second.finish(sink, stream->lines_read());
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
