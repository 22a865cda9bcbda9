// The exception family rooted in mirtle_py.ParseError, the seven detail
// classes carried by mirtle_py.SyntaxError, and the translation of a core
// error into an exception.
#pragma once

#include "mirtle/error.hpp"
#include "py.hpp"

namespace mirtle_py {

enum class ExceptionKind { Parse, NotStatement, EmptyInput, Unfinished, Syntax };

// The process-wide exception type (borrowed), created on first use.
PyObject* exception_type(ExceptionKind kind);

// The detail class of a syntax error kind (borrowed), created on first use.
PyTypeObject* detail_type(mirtle::SyntaxKind kind);

// Returns the exception to raise for `error` (a new reference), or nullptr
// with the error of a failed translation set.
PyObject* exception_from(mirtle::ParseError error);

// For another extension module built from these sources: makes its
// exception and detail types those of the imported module `mirtle_py`, so
// that both raise the very same classes.  Call before any other use.
bool share_error_types(PyObject* mirtle_py_module) noexcept;

}  // namespace mirtle_py
