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

// The one SectionType object of `type` (borrowed), or nullptr with an error.
PyObject* section_type_value(mirtle::SectionType type);

// New result objects (new references, or nullptr with an error set); the
// records are moved in, texts stay UTF-8 until read.
PyObject* new_account(mirtle::Account&& account);
PyObject* new_document(mirtle::Document&& document);

// The Statement's parts; new_statement takes over the four containers.
struct StatementParts {
  mirtle::Encoding encoding;
  Ref header;
  Ref accounts;
  Ref documents;
  Ref warnings;
  Py_ssize_t document_count;
  Py_ssize_t warning_count;
};
// A new Statement, or nullptr with an error set (the parts are released).
PyObject* new_statement(StatementParts&& parts);

// The record inside a Document or Account object; the caller checks that
// the object's type is document_type() or account_type().
const mirtle::Document& document_record(PyObject* document) noexcept;
const mirtle::Account& account_record(PyObject* account) noexcept;
// The Document attribute that shows `field` ("doc_number" for Номер).
const char* document_attribute_name(mirtle::DocField field) noexcept;

}  // namespace mirtle_py
