// mirtle_py.parse(statement, hooks=None): returns a new Statement, or
// nullptr with the exception set.
#pragma once

#include <vector>

#include "hooks.hpp"
#include "py.hpp"

namespace mirtle_py {

// The hooks of a `hooks` argument in iteration order, or false with the
// error set (also used by the toolkit's table export).
bool collect_hooks(PyObject* hooks, std::vector<PythonHook>& out);

PyObject* parse(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace mirtle_py
