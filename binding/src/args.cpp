#include "args.hpp"

#include <cstring>
#include <string>

namespace mirtle_py {
namespace {

bool too_many_positional(const Signature& sig, Py_ssize_t given) noexcept {
  const std::size_t total = sig.params.size();
  if (sig.required == total) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zu positional argument%s but %zd %s given",
                 sig.callable, total, total == 1 ? "" : "s", given, given == 1 ? "was" : "were");
  } else {
    PyErr_Format(PyExc_TypeError, "%s() takes from %zu to %zu positional arguments but %zd %s given",
                 sig.callable, sig.required, total, given, given == 1 ? "was" : "were");
  }
  return false;
}

// Places one keyword argument, or raises the interpreter's TypeError.
bool bind_keyword(const Signature& sig, PyObject* name, PyObject* value, PyObject** out) noexcept {
  if (sig.positional_only == sig.params.size()) {
    PyErr_Format(PyExc_TypeError, "%s() takes no keyword arguments", sig.callable);
    return false;
  }
  if (!PyUnicode_Check(name)) {
    PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", sig.callable);
    return false;
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(name, &size);
  if (text == nullptr) {
    PyErr_Clear();
  } else {
    for (std::size_t i = 0; i < sig.params.size(); ++i) {
      const char* param = sig.params[i];
      if (std::strlen(param) != static_cast<std::size_t>(size) ||
          std::memcmp(param, text, static_cast<std::size_t>(size)) != 0)
        continue;
      if (i < sig.positional_only) {
        PyErr_Format(PyExc_TypeError,
                     "%s() got some positional-only arguments passed as keyword arguments: '%s'",
                     sig.callable, param);
        return false;
      }
      if (out[i] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig.callable,
                     param);
        return false;
      }
      out[i] = value;
      return true;
    }
  }
  PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument %R", sig.callable, name);
  return false;
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'": the interpreter's list form.
std::string quoted_list(const Signature& sig, PyObject* const* out) {
  std::string names;
  std::size_t count = 0, total = 0;
  for (std::size_t i = 0; i < sig.required; ++i) total += out[i] == nullptr;
  for (std::size_t i = 0; i < sig.required; ++i) {
    if (out[i] != nullptr) continue;
    ++count;
    if (count > 1) names += total == 2 ? " and " : (count == total ? ", and " : ", ");
    names += '\'';
    names += sig.params[i];
    names += '\'';
  }
  return names;
}

bool check_required(const Signature& sig, PyObject* const* out) noexcept {
  std::size_t missing = 0;
  for (std::size_t i = 0; i < sig.required; ++i) missing += out[i] == nullptr;
  if (missing == 0) return true;
  return guarded([&] {
    const std::string names = quoted_list(sig, out);
    PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s",
                 sig.callable, missing, missing == 1 ? "" : "s", names.c_str());
    return false;
  });
}

}  // namespace

bool bind_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, PyObject** out) noexcept {
  const Py_ssize_t positional = PyVectorcall_NARGS(nargs);
  if (static_cast<std::size_t>(positional) > sig.params.size())
    return too_many_positional(sig, positional);
  for (std::size_t i = 0; i < sig.params.size(); ++i)
    out[i] = i < static_cast<std::size_t>(positional) ? args[i] : nullptr;
  if (kwnames != nullptr) {
    const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < count; ++k) {
      if (!bind_keyword(sig, PyTuple_GET_ITEM(kwnames, k), args[positional + k], out)) return false;
    }
  }
  return check_required(sig, out);
}

bool bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out) noexcept {
  const Py_ssize_t positional = PyTuple_GET_SIZE(args);
  if (static_cast<std::size_t>(positional) > sig.params.size())
    return too_many_positional(sig, positional);
  for (std::size_t i = 0; i < sig.params.size(); ++i)
    out[i] = i < static_cast<std::size_t>(positional) ? PyTuple_GET_ITEM(args, i) : nullptr;
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject *name, *value;
    while (PyDict_Next(kwargs, &pos, &name, &value)) {
      if (!bind_keyword(sig, name, value, out)) return false;
    }
  }
  return check_required(sig, out);
}

bool bind_threads(PyObject* value, mirtle::ParseOptions& out) noexcept {
  if (value == nullptr || value == Py_None) return true;
  if (!PyLong_Check(value)) {
    PyErr_Format(PyExc_TypeError, "threads must be an int or None, not %T", value);
    return false;
  }
  const long threads = PyLong_AsLong(value);
  if (threads == -1 && PyErr_Occurred()) return false;
  if (threads < 0 || threads > 2) {
    PyErr_Format(PyExc_ValueError, "threads must be 0, 1 or 2, not %ld", threads);
    return false;
  }
  out.threads = static_cast<unsigned>(threads);
  if (threads == 2) out.split_from = 0;
  return true;
}

}  // namespace mirtle_py
