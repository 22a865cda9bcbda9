// The text is cut at a line feed past its middle, before a document's
// start line; the second part is read on a thread of its own as if it
// followed the end of a section.  That is what the first part, read on the
// calling thread, must then end with: if it does, the two results joined
// are the whole text's; if it does not, the text is read whole after all.
// Checking UTF-8 is shared as well: each thread checks its own part.
#include "mirtle/two_parts.hpp"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "mirtle/decode.hpp"
#include "mirtle/vocabulary.hpp"

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

// The second part, read on its own thread.  It first checks whether its
// bytes are UTF-8 and tells the first part, which needs that to decide the
// encoding; then it reads its lines as UTF-8 if they are, else as
// windows-1251 (the whole text cannot be UTF-8 then).
class SecondPart {
 public:
  SecondPart(std::string_view text, TwoPartReader& reader) : text_(text), reader_(reader) {}

  void run() noexcept {
    is_utf8_ = text::is_valid_utf8(text_.data(), text_.data() + text_.size());
    checked_.set();
    try {
      SectionStream stream = SectionStream::resume(text_, is_utf8_ ? Encoding::UTF8 : Encoding::CP1251);
      read_.emplace(reader_.read_second(stream, stop_));
    } catch (const TwoPartReader::Whole&) {
    } catch (...) {
      thrown_ = std::current_exception();  // std::bad_alloc, or the reader's own
    }
  }

  // Waits for the check of the part's bytes.
  bool is_utf8() const {
    checked_.wait();
    return is_utf8_;
  }
  void stop() noexcept { stop_.store(true, std::memory_order_relaxed); }

  // Once the thread has ended: nullopt when the part asked for a read of
  // the whole text, else its outcome, an error's line moved on by
  // `lines_before`.  Rethrows what the thread threw.
  std::optional<Result<Ok, ParseError>> outcome(LineNo lines_before) {
    if (thrown_) std::rethrow_exception(thrown_);
    if (!read_) return std::nullopt;
    if (*read_) return Result<Ok, ParseError>(Ok{});
    ParseError error = std::move(*read_).error();
    if (error.lineno != 0) error.lineno += lines_before;
    return Result<Ok, ParseError>(fail(std::move(error)));
  }

 private:
  std::string_view text_;
  TwoPartReader& reader_;
  std::atomic<bool> stop_{false};
  mutable Signal checked_;
  bool is_utf8_ = false;
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
std::optional<Result<Ok, ParseError>> read_parts(std::string_view input, std::size_t cut, TwoPartReader& reader,
                                                 SecondPart& second, Joiner& joiner) {
  const char* const cut_at = input.data() + cut;
  auto decoded = text::decode_input(input, [&](std::string_view text) {
    if (text.data() >= cut_at) return text::is_valid_utf8(text.data(), text.data() + text.size());
    return text::is_valid_utf8(text.data(), cut_at) && second.is_utf8();
  });
  if (!decoded) return Result<Ok, ParseError>(fail(ParseError::plain(decoded.error())));
  // UTF-16 text is decoded anew, away from the part; and a second part read
  // as UTF-8 is no part of a windows-1251 text.
  if (decoded->owned || decoded->text.data() >= cut_at ||
      (decoded->encoding == Encoding::UTF8) != second.is_utf8())
    return std::nullopt;
  decoded->text = decoded->text.substr(0, static_cast<std::size_t>(cut_at - decoded->text.data()));
  auto stream = SectionStream::open(std::move(decoded).value());
  if (!stream) return Result<Ok, ParseError>(fail(std::move(stream).error()));

  // The first part must end between sections, where the second starts: its
  // text then runs out as an unfinished statement's would.
  auto read = reader.read_first(*stream);
  if (read) return std::nullopt;  // "КонецФайла" before the cut
  if (read.error().kind != ErrorKind::Unfinished) return Result<Ok, ParseError>(fail(std::move(read).error()));
  if (stream->context() != ParserContext::ReadNextSection) return std::nullopt;

  joiner.join();
  const LineNo lines_before = stream->lines_read();
  auto joined = second.outcome(lines_before);
  if (joined && *joined) reader.join(lines_before);
  return joined;
}

}  // namespace

std::optional<Result<Ok, ParseError>> read_in_two_parts(std::string_view input, TwoPartReader& reader) {
  const std::size_t cut = cut_point(input);
  if (cut == std::string_view::npos) return std::nullopt;
  SecondPart second(input.substr(cut), reader);
  std::thread thread;
  try {
    thread = std::thread(&SecondPart::run, &second);
  } catch (const std::system_error&) {
    return std::nullopt;  // no thread to be had: the text is read whole
  }
  Joiner joiner(thread, second);
  return read_parts(input, cut, reader, second, joiner);
}

}  // namespace mirtle
