// The core's records as new Python objects: a Statement record as a
// Statement, an attribute map as a dict.
#pragma once

#include "mirtle/statement.hpp"
#include "py.hpp"

namespace mirtle_py {

// Consumes `statement`; returns a new Statement, or nullptr with an error
// set (no partial Statement is ever returned).
PyObject* statement_from(mirtle::Statement&& statement);

// A dict of str -> str in the map's order (also used by the hooks bridge).
PyObject* dict_from(const mirtle::AttributeMap& map);

}  // namespace mirtle_py
