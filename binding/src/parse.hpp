// mirtle_py.parse(statement, hooks=None): returns a new Statement, or
// nullptr with the exception set.
#pragma once

#include "py.hpp"

namespace mirtle_py {

PyObject* parse(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace mirtle_py
