// A progress bar on standard error for long inputs, when someone watches.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "mirtle/statement.hpp"

namespace mirtle_cli {


class Progress {
 public:
  // Enabled when standard error is a terminal and `input` is long enough
  // for a parse to take a noticeable time.
  explicit Progress(std::string_view input);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress() { done(); }

  bool enabled() const noexcept { return expected_ != 0; }
  // One more section read.
  void advance() noexcept {
    if (enabled() && ++seen_ >= next_redraw_) redraw();
  }
  // Clears the bar.
  void done() noexcept;
  // Writes `text` on standard error, on a line of its own: the bar is
  // cleared first and drawn again below it.
  void print(std::string_view text) noexcept;

 private:
  // About 20 MB: below that a parse ends within a blink.
  static constexpr std::size_t kMinimumInput = 20u << 20;

  void redraw() noexcept;

  std::uint64_t expected_ = 0;  // sections counted ahead; 0 when disabled
  std::uint64_t seen_ = 0;
  std::uint64_t next_redraw_ = 0;
  bool drawn_ = false;
};

// Advances a progress bar at every section; changes nothing.
class ProgressHook final : public mirtle::Hook {
 public:
  explicit ProgressHook(Progress& progress) noexcept : progress_(progress) {}
  mirtle::HookOutcome on_section(mirtle::SectionType, mirtle::AttributeMap&,
                                 const mirtle::AttributeMap&) noexcept override {
    progress_.advance();
    return mirtle::HookOutcome::ok();
  }
  // Seen as views, the section is not copied for a look that changes nothing.
  mirtle::HookOutcome on_section_views(mirtle::SectionType, std::span<const mirtle::AttributeView>,
                                       const mirtle::AttributeMap&, mirtle::AttributeMap&, bool&) override {
    progress_.advance();
    return mirtle::HookOutcome::ok();
  }

 private:
  Progress& progress_;
};

}  // namespace mirtle_cli
