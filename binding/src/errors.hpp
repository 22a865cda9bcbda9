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

// Returns the exception instance to raise for `error` (a new reference), or
// nullptr with the error of a failed translation set.
PyObject* exception_from(mirtle::ParseError error);

// Takes the exception types and detail classes of `module` (an imported
// mirtle_py) as this copy's own, so that another extension module built from
// these sources raises the very types that `except mirtle_py.SyntaxError`
// catches.  Call before anything else here; false with an error set.
bool adopt_error_types(PyObject* module);

}  // namespace mirtle_py
