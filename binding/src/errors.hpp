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
// nullptr with the error of a failed translation set.  Its message is the
// core's own text (mirtle::describe).  Throws std::bad_alloc.
PyObject* exception_from(mirtle::ParseError error);

// Raises the exception for `error`; returns nullptr.  Throws std::bad_alloc.
PyObject* raise_parse_error(mirtle::ParseError error);

}  // namespace mirtle_py
