// A statement's documents and intervals as Arrow data, built in native code
// and handed over through the Arrow PyCapsule interface, so no Python object
// is made per field.  Errors and hooks are those of mirtle_py.parse.
#pragma once

#include "py.hpp"

namespace mirtle_native {

// ArrowData (borrowed): one finished table, exported on request; created on
// first use.
PyTypeObject* arrow_data_class();

// documents(statement, hooks=None) -> ArrowData, one row per built document
PyObject* documents(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
// intervals(statement, hooks=None) -> ArrowData, one row per balance interval
PyObject* intervals(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
// tables(statement, hooks=None) -> (documents, intervals) from one parse
PyObject* tables(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;

}  // namespace mirtle_native
