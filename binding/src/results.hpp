// The read-only result classes Statement, Account, Interval and Document,
// and the SectionType enumeration shown to hooks.
#pragma once

#include "mirtle/records.hpp"
#include "mirtle/statement.hpp"
#include "py.hpp"

namespace mirtle_py {

// Process-wide type objects (borrowed), created on first use.
PyTypeObject* interval_type();
PyTypeObject* account_type();
PyTypeObject* document_type();
PyTypeObject* statement_type();
PyTypeObject* section_type_type();

// The one SectionType object of `kind` (borrowed), or nullptr with an error.
PyObject* section_type_value(mirtle::SectionType kind);

// For another extension module built from these sources: makes its
// SectionType and values those of the imported module `mirtle_py`, so that
// hooks see the very same objects.  Call before any other use.
bool share_section_type(PyObject* mirtle_py_module) noexcept;

// New result objects; the records are moved in, texts stay UTF-8 until read.
PyObject* new_account(mirtle::Account&& account);
PyObject* new_document(mirtle::Document&& document);

// The Statement's parts, each a new reference that new_statement steals.
struct StatementParts {
  mirtle::Encoding encoding;
  PyObject* header;
  PyObject* accounts;
  PyObject* documents;
  PyObject* warnings;
  Py_ssize_t document_count;
  Py_ssize_t warning_count;
};
PyObject* new_statement(const StatementParts& parts);

}  // namespace mirtle_py
