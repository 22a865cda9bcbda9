// The parse entries: mirtle_py.parse(statement, hooks=None) over bytes or a
// str, and mirtle._native.parse(statement, hooks=None) over any contiguous
// buffer, which mirtle.read hands over uncopied.  Each returns a new
// Statement, or nullptr with the exception set.
#pragma once

#include "py.hpp"

namespace mirtle_py {

PyObject* parse(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
PyObject* parse_buffer(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;

}  // namespace mirtle_py
