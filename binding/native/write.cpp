#include "write.hpp"

#include <array>
#include <new>
#include <optional>
#include <string>

#include "args.hpp"
#include "mirtle/vocabulary.hpp"
#include "mirtle/writer.hpp"
#include "results.hpp"
#include "sections.hpp"
#include "statement_from.hpp"

namespace mirtle_native {
namespace {

using mirtle_py::Ref;

constinit mirtle_py::OnceSlot write_error_slot;

// --- arguments ----------------------------------------------------------------

// encoding ("cp1251" or "utf-8"), newline ("\r\n" or "\n") and the flag,
// as the Python layer passes them (already checked there).
bool options_of(PyObject* const* args, mirtle::WriteOptions& options) {
  std::string_view encoding, newline;
  if (!text_of(args[0], "encoding", encoding) || !text_of(args[1], "newline", newline)) return false;
  const std::string_view cp1251 = mirtle::name(mirtle::Encoding::CP1251), utf8 = mirtle::name(mirtle::Encoding::UTF8);
  if (encoding != cp1251 && encoding != utf8) {
    PyErr_Format(PyExc_ValueError, "encoding must be \"cp1251\" or \"utf-8\", not %R", args[0]);
    return false;
  }
  if (newline != "\r\n" && newline != "\n") {
    PyErr_Format(PyExc_ValueError, "newline must be \"\\r\\n\" or \"\\n\", not %R", args[1]);
    return false;
  }
  const int update = PyObject_IsTrue(args[2]);
  if (update < 0) return false;
  options.encoding = encoding == cp1251 ? mirtle::Encoding::CP1251 : mirtle::Encoding::UTF8;
  options.newline = newline == "\n" ? mirtle::Newline::LF : mirtle::Newline::CRLF;
  options.update_encoding_header = update != 0;
  return true;
}

// --- the core writer, detached -------------------------------------------------------

// Raises mirtle.WriteError with the core's message; returns nullptr.
// `section` is the position of the section in the output, `section_type`
// "account" or "document" (both None outside a section), `key` the key
// concerned or None.  Throws std::bad_alloc.
PyObject* raise_write_error(const mirtle::WriteError& error) {
  PyObject* type = write_error_type();
  if (type == nullptr) return nullptr;
  Ref message = Ref::steal(mirtle_py::new_str(mirtle::message(error)));
  if (!message) return nullptr;
  Ref exc = Ref::steal(PyObject_CallOneArg(type, message.get()));
  if (!exc) return nullptr;
  const bool in_section = error.scope == mirtle::WriteScope::Section;
  Ref position = in_section ? Ref::steal(PyLong_FromSize_t(error.position)) : Ref::borrow(Py_None);
  Ref section_type = in_section ? Ref::steal(PyUnicode_FromString(
                                      error.section_type == mirtle::SectionType::Account ? "account" : "document"))
                                : Ref::borrow(Py_None);
  Ref key = error.key.empty() ? Ref::borrow(Py_None) : Ref::steal(mirtle_py::new_str(error.key));
  if (!position || !section_type || !key || PyObject_SetAttrString(exc.get(), "section", position.get()) < 0 ||
      PyObject_SetAttrString(exc.get(), "section_type", section_type.get()) < 0 ||
      PyObject_SetAttrString(exc.get(), "key", key.get()) < 0)
    return nullptr;
  PyErr_SetRaisedException(exc.release());  // steals
  return nullptr;
}

// Runs `write(out)` detached (it reads only C++ records) and returns the
// text as bytes.  Throws std::bad_alloc.
template <typename Write>
PyObject* written_bytes(Write write) {
  std::string out;
  std::optional<mirtle::WriteError> refused;
  mirtle_py::run_core(true, [&] {
    auto result = write(out);
    if (!result) refused = std::move(result).error();
  });
  if (refused) return raise_write_error(*refused);
  return PyBytes_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size()));
}

// --- the lossless stream from Python data --------------------------------------------

// (key, value) or (lineno, key, value): the last two items are the texts.
bool raw_attribute_from(PyObject* item, const char* what, mirtle::RawAttribute& out) {
  if (!PyTuple_Check(item) || (PyTuple_GET_SIZE(item) != 2 && PyTuple_GET_SIZE(item) != 3)) {
    PyErr_Format(PyExc_TypeError, "%s must be a (key, value) or (lineno, key, value) tuple, not %T", what, item);
    return false;
  }
  const Py_ssize_t first = PyTuple_GET_SIZE(item) - 2;
  std::string_view key, value;
  if (!text_of(PyTuple_GET_ITEM(item, first), "a key", key) ||
      !text_of(PyTuple_GET_ITEM(item, first + 1), "a value", value))
    return false;
  out.key.assign(key);
  out.value.assign(value);
  return true;
}

bool raw_attributes_from(PyObject* seq, const char* what, std::vector<mirtle::RawAttribute>& out) {
  Ref items = Ref::steal(items_of(seq, "attributes"));
  if (!items) return false;
  const Py_ssize_t count = PyTuple_GET_SIZE(items.get());
  out.resize(static_cast<std::size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i)
    if (!raw_attribute_from(PyTuple_GET_ITEM(items.get(), i), what, out[static_cast<std::size_t>(i)]))
      return false;
  return true;
}

// A Section object, or (doc_type, attributes) with doc_type None for an
// account section.
bool raw_section_from(PyObject* item, mirtle::RawSection& out) {
  PyTypeObject* section_cls = section_class();
  if (section_cls == nullptr) return false;
  if (Py_TYPE(item) == section_cls) {
    out = section_record(item);
    return true;
  }
  if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2) {
    PyErr_Format(PyExc_TypeError, "a section must be a mirtle.Section or a (doc_type, attributes) tuple, not %T",
                 item);
    return false;
  }
  PyObject* doc_type = PyTuple_GET_ITEM(item, 0);
  // RawSection::kind holds the section type.
  out.type = doc_type == Py_None ? mirtle::SectionType::Account : mirtle::SectionType::Document;
  std::string_view type_text;
  if (doc_type != Py_None) {
    if (!text_of(doc_type, "doc_type", type_text)) return false;
    out.doc_type.assign(type_text);
  }
  return raw_attributes_from(PyTuple_GET_ITEM(item, 1), "a section attribute", out.attributes);
}

bool raw_statement_from(PyObject* header, PyObject* sections, mirtle::RawStatement& out) {
  if (!raw_attributes_from(header, "a header line", out.header)) return false;
  Ref items = Ref::steal(items_of(sections, "sections"));
  if (!items) return false;
  const Py_ssize_t count = PyTuple_GET_SIZE(items.get());
  out.sections.resize(static_cast<std::size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i)
    if (!raw_section_from(PyTuple_GET_ITEM(items.get(), i), out.sections[static_cast<std::size_t>(i)]))
      return false;
  return true;
}

constexpr const char* kStatementParams[] = {"statement", "encoding", "newline", "update_encoding_header"};
constexpr mirtle_py::Signature kStatementSignature{"write_statement", kStatementParams, 4, 4};
constexpr const char* kRawParams[] = {"header", "sections", "encoding", "newline", "update_encoding_header"};
constexpr mirtle_py::Signature kRawSignature{"write_raw", kRawParams, 5, 5};

const char* field_kind_name(mirtle::FieldKind kind) {
  switch (kind) {
    case mirtle::FieldKind::Text: return "text";
    case mirtle::FieldKind::OptionalText: return "optional text";
    case mirtle::FieldKind::Date: return "date";
    case mirtle::FieldKind::OptionalDate: return "optional date";
    case mirtle::FieldKind::Amount: return "amount";
  }
  return "";
}

}  // namespace

PyObject* write_error_type() {
  return write_error_slot.get([]() noexcept {
    return PyErr_NewExceptionWithDoc(
        "mirtle.WriteError",
        "A statement that cannot be written faithfully: a reader would not give it back as it is.\n\n"
        "``section`` is the 0-based position of the section in the output (None for the header or the\n"
        "statement as a whole), ``section_type`` \"account\" or \"document\" (or None), ``key`` the key\n"
        "concerned (or None).",
        PyExc_ValueError, nullptr);
  });
}

PyObject* write_statement(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  PyObject* values[4] = {};
  if (!mirtle_py::bind_fastcall(kStatementSignature, args, nargs, kwnames, values)) return nullptr;
  mirtle::WriteOptions options;
  if (!options_of(values + 1, options)) return nullptr;
  return mirtle_py::guarded([&]() -> PyObject* {
    mirtle::Statement statement;
    if (!statement_from(values[0], statement)) return nullptr;
    return written_bytes([&](std::string& out) { return mirtle::write_statement(statement, options, out); });
  });
}

PyObject* write_raw(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  PyObject* values[5] = {};
  if (!mirtle_py::bind_fastcall(kRawSignature, args, nargs, kwnames, values)) return nullptr;
  mirtle::WriteOptions options;
  if (!options_of(values + 2, options)) return nullptr;
  return mirtle_py::guarded([&]() -> PyObject* {
    mirtle::RawStatement statement;
    if (!raw_statement_from(values[0], values[1], statement)) return nullptr;
    return written_bytes([&](std::string& out) { return mirtle::write_sections(statement, options, out); });
  });
}

PyObject* document_fields(PyObject*, PyObject*) {
  const auto& fields = mirtle::document_fields();
  Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(fields.size())));
  if (!tuple) return nullptr;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const mirtle::DocFieldInfo& f = fields[i];
    PyObject* item = Py_BuildValue("(ss#sO)", mirtle_py::document_attribute_name(static_cast<mirtle::DocField>(i)),
                                   f.key.data(), static_cast<Py_ssize_t>(f.key.size()), field_kind_name(f.kind),
                                   f.required ? Py_True : Py_False);
    if (item == nullptr) return nullptr;
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);  // steals
  }
  return tuple.release();
}

}  // namespace mirtle_native
