#include "progress.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "mirtle/markers.hpp"
#include "platform/platform.hpp"

namespace mirtle_cli {

namespace {

// Every section starts with one of these lines; counting them estimates the
// number of sections without decoding anything.  The windows-1251 forms are
// looked for only when the UTF-8 ones are absent, since their anchors are
// common bytes in UTF-8 text.
std::uint64_t count_sections(std::string_view input) noexcept {
  using mirtle::Encoding, mirtle::SectionType, mirtle::text::count_keyword;
  const std::uint64_t utf8 = count_keyword(input, SectionType::Account, Encoding::UTF8) +
                             count_keyword(input, SectionType::Document, Encoding::UTF8);
  if (utf8 != 0) return utf8;
  return count_keyword(input, SectionType::Account, Encoding::CP1251) +
         count_keyword(input, SectionType::Document, Encoding::CP1251);
}

void write_stderr(const char* text, std::size_t length) noexcept {
  platform::write_all(platform::File::standard(platform::Stream::error), std::string_view(text, length));
}

}  // namespace

Progress::Progress(std::string_view input) {
  if (input.size() < kMinimumInput || !platform::is_terminal(platform::Stream::error)) return;
  expected_ = std::max<std::uint64_t>(1, count_sections(input));
}

void Progress::redraw() noexcept {
  constexpr int kWidth = 40;
  const std::uint64_t percent = std::min<std::uint64_t>(100, seen_ * 100 / expected_);
  std::array<char, 96> line{};
  const int filled = static_cast<int>(percent * kWidth / 100);
  const int length = std::snprintf(line.data(), line.size(), "\r[%.*s%*s] %3u%%", filled,
                                   "========================================", kWidth - filled, "",
                                   static_cast<unsigned>(percent));
  if (length > 0) write_stderr(line.data(), static_cast<std::size_t>(length));
  drawn_ = true;
  next_redraw_ = (percent + 1) * expected_ / 100 + 1;
}

void Progress::done() noexcept {
  if (!drawn_) return;
  write_stderr("\r\033[K", 4);
  drawn_ = false;
}

void Progress::print(std::string_view text) noexcept {
  const bool was_drawn = drawn_;
  done();
  write_stderr(text.data(), text.size());
  if (was_drawn) redraw();
}

}  // namespace mirtle_cli
