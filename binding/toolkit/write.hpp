// Writing statements from Python: a mirtle_py.Statement, a Sections object
// or plain (key, value) data, through the core's writer.
#pragma once

#include "py.hpp"

namespace mirtle_toolkit {

// Takes mirtle_py's Account and Document classes, whose objects the writer
// reads records from.  False with an error set.
bool adopt_result_types(PyObject* mirtle_py_module);

// mirtle.WriteError (borrowed), created on first use.
PyObject* write_error_type();

// write_statement(statement, encoding, newline, update_encoding_header) -> bytes
PyObject* write_statement(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
// write_raw(header, sections, encoding, newline, update_encoding_header) -> bytes
PyObject* write_raw(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
// document_fields() -> ((attribute, key, kind, required), ...) in record order
PyObject* document_fields(PyObject* module, PyObject* unused);

}  // namespace mirtle_toolkit
