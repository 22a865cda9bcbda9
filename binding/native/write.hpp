// Writing statements from Python: a mirtle_py.Statement, a Sections object
// or plain (key, value) data, through the core's writer.
#pragma once

#include "py.hpp"

namespace mirtle_native {

// mirtle.WriteError (borrowed), created on first use.
PyObject* write_error_type();

// write_statement(statement, encoding, newline, update_encoding_header, /) -> bytes
PyObject* write_statement(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
// write_raw(header, sections, encoding, newline, update_encoding_header, /) -> bytes
PyObject* write_raw(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
// document_fields() -> ((attribute, key, kind, required), ...) in record order
PyObject* document_fields(PyObject* module, PyObject* unused);

}  // namespace mirtle_native
