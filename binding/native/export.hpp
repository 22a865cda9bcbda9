// A statement exported as JSON, CSV or XLSX, and its balance checks, by the
// export library: from a mirtle_py.Statement, or streamed from the bytes of
// one while they are read.
#pragma once

#include "py.hpp"

namespace mirtle_native {

// to_json(statement, /) -> str: as `mirtle json` prints it, without the final line feed
PyObject* to_json(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
// export_csv(source, write, intervals, excel, /) -> bytes | None
PyObject* export_csv(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
// export_xlsx(source, write, attribute_names, /) -> bytes | None
PyObject* export_xlsx(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
// balances(source, /) -> [(account, date_start, ..., expense_difference), ...]
PyObject* balances(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;

}  // namespace mirtle_native
