// One build of the core as a shared library, for ab_driver: the parse with
// and without a hook, and the floor (floor.hpp, as bench_core's
// floor/…/decode+lines).  Each returns a count that is never 0 on success.
#include <memory>
#include <string_view>

#include "mirtle/statement.hpp"
#include "../floor.hpp"

#define AB_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

class NoopHook final : public mirtle::Hook {
 public:
  mirtle::HookOutcome on_section(mirtle::SectionType, mirtle::AttributeMap&,
                                 const mirtle::AttributeMap&) noexcept override {
    return mirtle::HookOutcome::ok();
  }
};

}  // namespace

AB_EXPORT std::size_t ab_parse(const char* bytes, std::size_t size) {
#ifdef AB_ONE_THREAD  // set by ab.sh for a core that has the option
  mirtle::ParseOptions options;
  options.threads = 1;
  const auto result = mirtle::parse_statement({}, std::string_view(bytes, size), options);
#else
  const auto result = mirtle::parse_statement({}, std::string_view(bytes, size));
#endif
  return result ? result->documents.size() + 1 : 0;
}

AB_EXPORT std::size_t ab_parse_hook(const char* bytes, std::size_t size) {
  NoopHook hook;
  mirtle::Hook* const hooks[] = {&hook};
  const auto result = mirtle::parse_statement(hooks, std::string_view(bytes, size));
  return result ? result->documents.size() + 1 : 0;
}

AB_EXPORT std::size_t ab_floor(const char* bytes, std::size_t size) {
  static const auto buffer = std::make_unique<char[]>(mirtle::bench::kFloorBuffer);
  const auto lines = mirtle::bench::floor_lines(std::string_view(bytes, size), buffer.get());
  return lines ? *lines + 1 : 0;
}
