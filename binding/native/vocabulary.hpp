// The format's words and value forms, for the mirtle package's Python code:
// one vocabulary, the core's.
#pragma once

#include "py.hpp"

namespace mirtle_native {

// interval_fields(): ((name, key, is_date, required), ...) in the order of
// mirtle_py.Interval's attributes.  Returns a new reference.
PyObject* interval_fields(PyObject* module, PyObject* unused) noexcept;
// header_name(encoding, /): the Кодировка value a written statement gives
// "cp1251" or "utf-8": "Windows" or "UTF-8".  Returns a new reference.
PyObject* header_name(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
// statement_date(year, month, day, /): "dd.mm.yyyy" as a statement writes
// it, or None when that is no date of the calendar a reader can give.
// Returns a new reference.
PyObject* statement_date(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
// Adds the constants ENCODING_KEY and MAX_AMOUNT_SCALE; false with an error set.
bool add_vocabulary_constants(PyObject* module) noexcept;

}  // namespace mirtle_native
