#include "py.hpp"

namespace mirtle_py {

void add_processing_note(const char* name) noexcept {
  PyObject* exc = PyErr_GetRaisedException();
  if (exc == nullptr) return;
  PyObject* note = PyUnicode_FromFormat("while processing '%s'", name);
  if (note != nullptr) {
    PyObject* done = PyObject_CallMethod(exc, "add_note", "O", note);
    Py_DECREF(note);
    if (done == nullptr) PyErr_Clear();  // keep the original error
    Py_XDECREF(done);
  } else {
    PyErr_Clear();
  }
  PyErr_SetRaisedException(exc);
}

bool set_type_attr(PyTypeObject* type, const char* name, PyObject* value) noexcept {
  PyObject* dict = PyType_GetDict(type);
  if (dict == nullptr) return false;
  const int rc = PyDict_SetItemString(dict, name, value);
  Py_DECREF(dict);
  if (rc < 0) return false;
  PyType_Modified(type);
  return true;
}

bool clear_type_doc(PyTypeObject* type) noexcept { return set_type_attr(type, "__doc__", Py_None); }

}  // namespace mirtle_py
