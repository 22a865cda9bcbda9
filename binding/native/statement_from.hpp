// The C++ records of Python data: a mirtle_py.Statement's parts, read back
// through its objects, for the writer and the exporters.
#pragma once

#include <string_view>

#include "mirtle/statement.hpp"
#include "py.hpp"

namespace mirtle_native {

// A str's UTF-8 text; false with TypeError naming `what` for anything else.
bool text_of(PyObject* obj, const char* what, std::string_view& out);

// The items of a sequence as a new tuple: strong references, so the walk is
// safe while other threads change a list.  A str or bytes is refused.
PyObject* items_of(PyObject* seq, const char* what);

// What to read of a statement besides its header, accounts and documents.
struct StatementParts {
  bool encoding = false;
  bool warnings = false;
};

// The records of `obj` (a mirtle_py.Statement, or anything with its
// attributes), copied: documents share their texts with the objects'.
// False with an error set when a part is not what a Statement holds.
bool statement_from(PyObject* obj, mirtle::Statement& statement, StatementParts parts = {});

}  // namespace mirtle_native
