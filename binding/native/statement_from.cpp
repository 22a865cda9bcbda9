#include "statement_from.hpp"

#include <string>
#include <vector>

#include "mirtle/vocabulary.hpp"
#include "results.hpp"

namespace mirtle_native {

using mirtle_py::Ref;

bool text_of(PyObject* obj, const char* what, std::string_view& out) {
  if (!PyUnicode_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "%s must be str, not %T", what, obj);
    return false;
  }
  return mirtle_py::str_utf8(obj, out);
}

// The items of a sequence as a new tuple: strong references, so the walk is
// safe while other threads change a list.  A str or bytes is refused.
PyObject* items_of(PyObject* seq, const char* what) {
  if (PyUnicode_Check(seq) || PyBytes_Check(seq) || !PySequence_Check(seq)) {
    PyErr_Format(PyExc_TypeError, "%s must be a sequence, not %T", what, seq);
    return nullptr;
  }
  return PySequence_Tuple(seq);
}

namespace {

// The (key, value) items of a dict, as a list holding strong references: safe
// to walk while other threads may change the dict.
PyObject* dict_items(PyObject* dict, const char* what) {
  if (!PyDict_Check(dict)) {
    PyErr_Format(PyExc_TypeError, "%s must be a dict, not %T", what, dict);
    return nullptr;
  }
  return PyDict_Items(dict);
}

bool header_from(PyObject* dict, mirtle::AttributeMap& header) {
  Ref items = Ref::steal(dict_items(dict, "statement.header"));
  if (!items) return false;
  std::string_view k, v;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
    PyObject* item = PyList_GET_ITEM(items.get(), i);  // borrowed (key, value)
    if (!text_of(PyTuple_GET_ITEM(item, 0), "a header key", k) ||
        !text_of(PyTuple_GET_ITEM(item, 1), "a header value", v))
      return false;
    header.set(k, v);
  }
  return true;
}

bool accounts_from(PyObject* dict, std::vector<mirtle::Account>& accounts) {
  PyTypeObject* account_class = mirtle_py::account_type();
  if (account_class == nullptr) return false;
  Ref items = Ref::steal(dict_items(dict, "statement.accounts"));
  if (!items) return false;
  accounts.reserve(static_cast<std::size_t>(PyList_GET_SIZE(items.get())));
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
    PyObject* value = PyTuple_GET_ITEM(PyList_GET_ITEM(items.get(), i), 1);  // borrowed
    if (Py_TYPE(value) != account_class) {
      PyErr_Format(PyExc_TypeError, "statement.accounts values must be mirtle_py.Account, not %T", value);
      return false;
    }
    accounts.push_back(mirtle_py::account_record(value));
  }
  return true;
}

bool documents_from(PyObject* list, std::vector<mirtle::Document>& documents) {
  PyTypeObject* document_class = mirtle_py::document_type();
  if (document_class == nullptr) return false;
  Ref items = Ref::steal(items_of(list, "statement.documents"));
  if (!items) return false;
  const Py_ssize_t count = PyTuple_GET_SIZE(items.get());
  documents.reserve(static_cast<std::size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* item = PyTuple_GET_ITEM(items.get(), i);  // borrowed
    if (Py_TYPE(item) != document_class) {
      PyErr_Format(PyExc_TypeError, "statement.documents[%zd] must be a mirtle_py.Document, not %T", i, item);
      return false;
    }
    documents.push_back(mirtle_py::document_record(item));
  }
  return true;
}

bool encoding_from(PyObject* obj, mirtle::Encoding& encoding) {
  std::string_view name;
  if (!text_of(obj, "statement.encoding", name)) return false;
  for (const mirtle::Encoding known : {mirtle::Encoding::CP1251, mirtle::Encoding::UTF8}) {
    if (name == mirtle::name(known)) {
      encoding = known;
      return true;
    }
  }
  PyErr_Format(PyExc_ValueError, "statement.encoding must be \"cp1251\" or \"utf-8\", not %R", obj);
  return false;
}

// (lineno, message) tuples, as Statement.warnings holds them.
bool warnings_from(PyObject* seq, std::vector<mirtle::Warning>& warnings) {
  Ref items = Ref::steal(items_of(seq, "statement.warnings"));
  if (!items) return false;
  const Py_ssize_t count = PyTuple_GET_SIZE(items.get());
  warnings.reserve(static_cast<std::size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* item = PyTuple_GET_ITEM(items.get(), i);  // borrowed
    if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2) {
      PyErr_Format(PyExc_TypeError, "statement.warnings[%zd] must be a (lineno, message) tuple, not %T", i, item);
      return false;
    }
    const unsigned long long lineno = PyLong_AsUnsignedLongLong(PyTuple_GET_ITEM(item, 0));
    if (lineno == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    std::string_view message;
    if (!text_of(PyTuple_GET_ITEM(item, 1), "a warning's message", message)) return false;
    warnings.push_back({static_cast<mirtle::LineNo>(lineno), std::string(message)});
  }
  return true;
}

// Reads the attribute `name` of `obj` into `out` with `read`.
template <typename Out, typename Read>
bool part_of(PyObject* obj, const char* name, Out& out, Read read) {
  Ref value = Ref::steal(PyObject_GetAttrString(obj, name));
  return value && read(value.get(), out);
}

}  // namespace

bool statement_from(PyObject* obj, mirtle::Statement& statement, StatementParts parts) {
  return part_of(obj, "header", statement.header, header_from) &&
         part_of(obj, "accounts", statement.accounts, accounts_from) &&
         part_of(obj, "documents", statement.documents, documents_from) &&
         (!parts.encoding || part_of(obj, "encoding", statement.encoding, encoding_from)) &&
         (!parts.warnings || part_of(obj, "warnings", statement.warnings, warnings_from));
}


}  // namespace mirtle_native
