// Argument binding for the module's callables, with the interpreter's own
// wording for argument errors ("f() missing 1 required positional argument").
#pragma once

#include <span>

#include "py.hpp"

namespace mirtle_py {

struct Signature {
  const char* callable;  // as named in messages, e.g. "parse" or "HookError.__new__"
  std::span<const char* const> params;
  std::size_t required;  // the first `required` params have no default
};

// Binds a vectorcall-style argument list.  `out` receives borrowed
// references, nullptr for parameters left out.  On failure raises TypeError.
bool bind_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, PyObject** out) noexcept;

// The same for a tuple and an optional dict, as tp_new receives them.
bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out) noexcept;

}  // namespace mirtle_py
