// A large statement read in two parts at once: the text is cut before a
// document's start line near its middle, and the second part is read on a
// thread of its own while the calling thread reads the first.  What each
// part's stream turns into is the reader's business; the cut, the thread,
// the encoding and the checks that the two parts make the whole are this
// header's.
#pragma once

#include <atomic>
#include <optional>
#include <string_view>

#include "mirtle/error.hpp"
#include "mirtle/result.hpp"
#include "mirtle/sections.hpp"

namespace mirtle {

// What reads the two parts of a statement and then joins what they gave.
class TwoPartReader {
 public:
  virtual ~TwoPartReader() = default;

  // On the calling thread: the first part, from the text's start, up to
  // the stream's first error.  A first part that ends between sections
  // fails as Unfinished there, as it should.
  virtual Result<Ok, ParseError> read_first(SectionStream& stream) = 0;

  // On the second thread, meanwhile: the second part, a stream that starts
  // between sections and numbers its lines from 1.  Once `stop` is set the
  // result is not wanted, and the sooner it returns the better.  It must
  // touch nothing that read_first touches.  Throwing TwoPartReader::Whole
  // has the text read whole; any other exception is rethrown on the
  // calling thread when the part's result is wanted.
  virtual Result<Ok, ParseError> read_second(SectionStream& stream, const std::atomic<bool>& stop) = 0;

  // On the calling thread, both parts read: the second part's results
  // added after the first's, its line numbers moved on by `lines_before`.
  virtual void join(LineNo lines_before) = 0;

  // Thrown by read_second when its part cannot be joined as it is.
  struct Whole {};
};

// Reads `input` in two parts at once through `reader`.  nullopt when the
// text must be read whole instead, as one stream: no document starts near
// the middle, no thread can be had, the first part does not end between
// sections, its encoding is not the second part's, the text is UTF-16, or
// the second part asked for it.  Otherwise the whole text's outcome: Ok
// once the parts are joined, or the error a one-stream read gives (its
// line moved on when the second part failed).
std::optional<Result<Ok, ParseError>> read_in_two_parts(std::string_view input, TwoPartReader& reader);

}  // namespace mirtle
