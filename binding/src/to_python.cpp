#include "to_python.hpp"

#include "results.hpp"

namespace mirtle_py {
namespace {

// Stores `value` under `key`; either may be empty after a failure.
bool store(PyObject* dict, Ref&& key, Ref&& value) noexcept {
  if (!key || !value) return internal_error_if_unset(), false;
  return PyDict_SetItem(dict, key.get(), value.get()) == 0;
}

PyObject* accounts_from(std::vector<mirtle::Account>& accounts) {
  Ref dict = Ref::steal(PyDict_New());
  if (!dict) return internal_error_if_unset();
  for (mirtle::Account& account : accounts) {
    Ref key = Ref::steal(new_str(account.number));
    if (!store(dict.get(), std::move(key), Ref::steal(new_account(std::move(account))))) return nullptr;
  }
  return dict.release();
}

PyObject* documents_from(std::vector<mirtle::Document>& documents) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(documents.size())));
  if (!list) return internal_error_if_unset();
  for (std::size_t i = 0; i < documents.size(); ++i) {
    PyObject* document = new_document(std::move(documents[i]));
    if (document == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), document);
  }
  return list.release();
}

PyObject* warnings_from(const std::vector<mirtle::Warning>& warnings) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(warnings.size())));
  if (!list) return internal_error_if_unset();
  for (std::size_t i = 0; i < warnings.size(); ++i) {
    Ref lineno = Ref::steal(PyLong_FromUnsignedLongLong(warnings[i].lineno));
    Ref message = Ref::steal(new_str(warnings[i].message));
    if (!lineno || !message) return internal_error_if_unset();
    PyObject* pair = PyTuple_Pack(2, lineno.get(), message.get());
    if (pair == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), pair);
  }
  return list.release();
}

}  // namespace

PyObject* dict_from(const mirtle::AttributeMap& map) {
  Ref dict = Ref::steal(PyDict_New());
  if (!dict) return internal_error_if_unset();
  for (const auto& [key, value] : map.entries())
    if (!store(dict.get(), Ref::steal(new_str(key)), Ref::steal(new_str(value)))) return nullptr;
  return dict.release();
}

PyObject* statement_from(mirtle::Statement&& statement) {
  // Each part is finished before the next begins; the record is released
  // with `statement` whatever happens.
  Ref header = Ref::steal(dict_from(statement.header));
  if (!header) return nullptr;
  Ref accounts = Ref::steal(accounts_from(statement.accounts));
  if (!accounts) return nullptr;
  Ref documents = Ref::steal(documents_from(statement.documents));
  if (!documents) return nullptr;
  Ref warnings = Ref::steal(warnings_from(statement.warnings));
  if (!warnings) return nullptr;
  return new_statement({statement.encoding, std::move(header), std::move(accounts), std::move(documents),
                        std::move(warnings), static_cast<Py_ssize_t>(statement.documents.size()),
                        static_cast<Py_ssize_t>(statement.warnings.size())});
}

}  // namespace mirtle_py
