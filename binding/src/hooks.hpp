// The bridge between the core's hook call points and Python callables.
#pragma once

#include "mirtle/statement.hpp"
#include "py.hpp"

namespace mirtle_py {

// One Python object used as a core hook.  Holds a strong reference to it
// (taken over from the caller); must be destroyed with the thread attached.
class PythonHook final : public mirtle::Hook {
 public:
  explicit PythonHook(Ref&& callable) noexcept : callable_(std::move(callable)) {}
  PythonHook(PythonHook&& other) noexcept = default;
  PythonHook& operator=(PythonHook&&) noexcept = default;

  mirtle::HookOutcome on_section(mirtle::SectionType type, mirtle::AttributeMap& attrs,
                                 const mirtle::AttributeMap& header) noexcept override;

 private:
  Ref callable_;
};

}  // namespace mirtle_py
