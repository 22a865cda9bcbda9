// The bridge between the core's hook call points and Python callables.
#pragma once

#include <span>
#include <vector>

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

// The hooks of one call's `hooks` argument, as the core takes them.  Must
// be destroyed with the thread attached.
class HookList {
 public:
  // Takes the items of `hooks` (nullptr or None: none) in iteration order;
  // false with the error set and noted "while processing 'hooks'".  Throws
  // std::bad_alloc.
  bool collect(PyObject* hooks);

  // A parse without hooks touches no Python object and may run detached.
  bool empty() const noexcept { return hooks_.empty(); }
  std::span<mirtle::Hook* const> list() const noexcept { return pointers_; }

 private:
  std::vector<PythonHook> hooks_;
  std::vector<mirtle::Hook*> pointers_;
};

}  // namespace mirtle_py
