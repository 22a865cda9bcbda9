// One build of the core as a shared library, for ab_driver: the parse with
// and without a hook, and the floor (validating or decoding the bytes and
// finding the line ends, as bench_core's floor/…/decode+lines).  Each
// returns a count that is never 0 on success.
#include <cstring>
#include <memory>
#include <string_view>

#include "mirtle/statement.hpp"
#include "text/decode.hpp"

#define AB_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

class NoopHook final : public mirtle::Hook {
 public:
  mirtle::HookOutcome on_section(mirtle::SectionType, mirtle::AttributeMap&,
                                 const mirtle::AttributeMap&) noexcept override {
    return mirtle::HookOutcome::ok();
  }
};

std::size_t count_lines(std::string_view text) {
  std::size_t lines = 0;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p))) {
    ++lines;
    p = static_cast<const char*>(lf) + 1;
  }
  return lines;
}

}  // namespace

AB_EXPORT std::size_t ab_parse(const char* bytes, std::size_t size) {
  const auto result = mirtle::parse_statement({}, std::string_view(bytes, size));
  return result ? result->documents.size() + 1 : 0;
}

AB_EXPORT std::size_t ab_parse_hook(const char* bytes, std::size_t size) {
  NoopHook hook;
  mirtle::Hook* const hooks[] = {&hook};
  const auto result = mirtle::parse_statement(hooks, std::string_view(bytes, size));
  return result ? result->documents.size() + 1 : 0;
}

AB_EXPORT std::size_t ab_floor(const char* bytes, std::size_t size) {
  constexpr std::size_t kChunk = 64 * 1024;
  const auto decoded = mirtle::text::decode_input(std::string_view(bytes, size));
  if (!decoded) return 0;
  if (!decoded->per_line) return count_lines(decoded->text) + 1;
  const auto buffer = std::make_unique<char[]>(kChunk * 3);
  std::size_t lines = 1;
  for (std::size_t at = 0; at < decoded->text.size(); at += kChunk) {
    const std::size_t n = mirtle::text::decode_windows1251(decoded->text.substr(at, kChunk), buffer.get());
    lines += count_lines(std::string_view(buffer.get(), n));
  }
  return lines;
}
