// The bridge between the core's hook call points and Python callables.
#pragma once

#include <array>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mirtle/statement.hpp"
#include "py.hpp"

namespace mirtle_py {

// The Python objects one parse's hooks reuse from section to section: the
// str of each key of the format, made once, and the header's dict, made
// once and copied for each call.  Must be destroyed with the thread attached.
class HookObjects {
 public:
  // A new reference to the str of `key`, or nullptr with an error set.
  // Keys are guessed in the order the section before listed them.
  PyObject* key(std::string_view key) noexcept;
  // Called before a section's first key().
  void start_section() noexcept { last_ = mirtle::kDocFieldCount; }
  // A new reference to a dict of the header, or nullptr with an error set.
  // The header is final once the first section starts, so its dict is made
  // once, and each call gets a copy: the one the call before got, while
  // nothing else holds it and it holds the header's own keys and values,
  // in order, so that no code could tell it from a new copy.
  PyObject* header(const mirtle::AttributeMap& header) noexcept;
  // Room for the objects a call hands its hook, reused from call to call.
  std::vector<Ref>& handed() noexcept { return handed_; }
  // Room for a changed section, reused from call to call.
  mirtle::AttributeMap& scratch() noexcept { return scratch_; }

 private:
  // Keys other than the documents' fields kept at most: the account
  // sections' and a bank's own few.
  static constexpr std::size_t kOtherKeys = 32;

  std::array<Ref, mirtle::kDocFieldCount> document_keys_;
  // The field whose key followed each field's in the last section, and the
  // last field's (kDocFieldCount at a section's start).
  std::array<mirtle::DocField, mirtle::kDocFieldCount + 1> follows_{};
  std::size_t last_ = mirtle::kDocFieldCount;
  std::vector<std::pair<std::string, Ref>> other_keys_;
  Ref header_;
  Ref handed_header_;  // the copy handed to the last call
  std::vector<Ref> handed_;
  mirtle::AttributeMap scratch_;
};

// One Python object used as a core hook.  Holds a strong reference to it
// (taken over from the caller); must be destroyed with the thread attached.
class PythonHook final : public mirtle::Hook {
 public:
  PythonHook(Ref&& callable, HookObjects& objects) noexcept : callable_(std::move(callable)), objects_(&objects) {}
  PythonHook(PythonHook&& other) noexcept = default;
  PythonHook& operator=(PythonHook&&) noexcept = default;

  mirtle::HookOutcome on_section(mirtle::SectionType type, mirtle::AttributeMap& attrs,
                                 const mirtle::AttributeMap& header) noexcept override;
  mirtle::HookOutcome on_section_views(mirtle::SectionType type, std::span<const mirtle::AttributeView> attrs,
                                       const mirtle::AttributeMap& header, mirtle::AttributeMap& changed_attrs,
                                       bool& changed) noexcept override;

 private:
  Ref callable_;
  HookObjects* objects_;  // the parse's, owned by its HookList
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
  std::unique_ptr<HookObjects> objects_;  // where the hooks find it, whatever moves
  std::vector<PythonHook> hooks_;
  std::vector<mirtle::Hook*> pointers_;
};

}  // namespace mirtle_py
