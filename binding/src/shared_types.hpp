// Extension modules other than mirtle_py that are built from these sources
// (the mirtle package's native parts) raise and pass mirtle_py's own types.
#pragma once

#include "py.hpp"

namespace mirtle_py {

// Takes the exception types, the detail classes and SectionType (with its
// two values) of `mirtle_py_module`, an imported mirtle_py, as this copy's
// own: `except mirtle_py.SyntaxError` then catches what this copy raises,
// and hooks see the very SectionType values parse passes.  Call when the
// module is imported, before anything else here; false with an error set.
bool adopt_shared_types(PyObject* mirtle_py_module);

}  // namespace mirtle_py
