// mirtle._toolkit: the native parts of the mirtle package.  No module state:
// its types are created once per process, and the exception types it raises
// are mirtle_py's own, taken from that module when this one is imported.
#include <new>
#include <string>
#include <string_view>

#include "errors.hpp"
#include "py.hpp"
#include "sections.hpp"
#include "shared_types.hpp"
#include "write.hpp"

namespace mirtle_toolkit {
namespace {

using mirtle_py::Ref;

// document_error(lineno, message): the mirtle_py.SyntaxError with a
// DocumentParseError detail that mirtle_py would raise for a document that
// could not be built (a new reference to the exception, not raised).
PyObject* document_error(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 2) {
    PyErr_Format(PyExc_TypeError, "document_error() takes exactly 2 arguments (%zd given)", nargs);
    return nullptr;
  }
  const unsigned long long lineno = PyLong_AsUnsignedLongLong(args[0]);
  if (lineno == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return nullptr;
  std::string_view message;
  if (!PyUnicode_Check(args[1])) {
    PyErr_Format(PyExc_TypeError, "message must be str, not %T", args[1]);
    return nullptr;
  }
  if (!mirtle_py::str_utf8(args[1], message)) return nullptr;
  try {
    return mirtle_py::exception_from(mirtle::ParseError::with_message(
        mirtle::SyntaxKind::DocumentParseError, lineno, std::string(message)));
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

PyMethodDef methods[] = {
    {"read_sections", read_sections, METH_O,
     "read_sections(data, /)\n--\n\nThe section stream of a bytes-like statement."},
    {"document_error", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(document_error)),
     METH_FASTCALL,
     "document_error(lineno, message, /)\n--\n\n"
     "The mirtle_py.SyntaxError for a document that could not be built (returned, not raised)."},
    {"write_statement", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(write_statement)),
     METH_FASTCALL,
     "write_statement(statement, encoding, newline, update_encoding_header, /)\n--\n\n"
     "The text of a mirtle_py.Statement's records."},
    {"write_raw", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(write_raw)), METH_FASTCALL,
     "write_raw(header, sections, encoding, newline, update_encoding_header, /)\n--\n\n"
     "The text of header lines and sections as given."},
    {"document_fields", document_fields, METH_NOARGS,
     "document_fields()\n--\n\nThe document fields in record order: (attribute, key, kind, required)."},
    {nullptr, nullptr, 0, nullptr},
};

bool add_type(PyObject* module, const char* name, PyTypeObject* type) {
  return type != nullptr && PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(type)) == 0;
}

int exec_module(PyObject* module) {
  Ref mirtle_py_module = Ref::steal(PyImport_ImportModule("mirtle_py"));
  if (!mirtle_py_module || !mirtle_py::adopt_shared_types(mirtle_py_module.get())) return -1;
  if (!adopt_result_types(mirtle_py_module.get())) return -1;
  if (!add_type(module, "Sections", sections_type()) || !add_type(module, "Section", section_type())) return -1;
  PyObject* write_error = write_error_type();  // borrowed
  if (write_error == nullptr || PyModule_AddObjectRef(module, "WriteError", write_error) < 0) return -1;
  return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    // Process-wide types must not reach a second interpreter.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "mirtle._toolkit", "Native parts of the mirtle package.", 0, methods, module_slots,
    nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace mirtle_toolkit

PyMODINIT_FUNC PyInit__toolkit() { return PyModuleDef_Init(&mirtle_toolkit::module_def); }
