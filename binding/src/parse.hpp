// mirtle_py.parse(statement, hooks=None).
#pragma once

#include "py.hpp"

namespace mirtle_py {

PyObject* parse(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace mirtle_py
