#include "shared_types.hpp"

#include "errors.hpp"
#include "results.hpp"

namespace mirtle_py {

bool adopt_shared_types(PyObject* mirtle_py_module) {
  return adopt_error_types(mirtle_py_module) && adopt_section_type(mirtle_py_module);
}

}  // namespace mirtle_py
