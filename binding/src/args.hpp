// The one argument binder of the binding's callables: every function and
// __new__ that takes arguments binds them here, with the interpreter's own
// wording for argument errors ("f() missing 1 required positional argument").
#pragma once

#include <span>

#include "mirtle/statement.hpp"
#include "py.hpp"

namespace mirtle_py {

struct Signature {
  const char* callable;  // as named in messages, e.g. "parse" or "HookError.__new__"
  std::span<const char* const> params;
  std::size_t required;             // the first `required` params have no default
  std::size_t positional_only = 0;  // the first `positional_only` params take no keyword
};

// Binds a vectorcall-style argument list (METH_FASTCALL | METH_KEYWORDS).
// `out` receives borrowed references, nullptr for parameters left out.  On
// failure raises TypeError.
bool bind_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, PyObject** out) noexcept;

// The same for a tuple and an optional dict, as tp_new receives them.
bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out) noexcept;

// A read's `threads` argument as ParseOptions: None or 0, two parts when
// the machine and the text's size allow; 1, the calling thread only; 2, two
// parts whenever the text can be cut, whatever its size (for tests).
// Raises TypeError or ValueError for anything else.
bool bind_threads(PyObject* value, mirtle::ParseOptions& out) noexcept;

}  // namespace mirtle_py
