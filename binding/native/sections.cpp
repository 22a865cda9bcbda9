#include "sections.hpp"

#include <memory>
#include <new>
#include <optional>
#include <string>

#include "args.hpp"
#include "buffer.hpp"
#include "errors.hpp"
#include "mirtle/quote.hpp"
#include "mirtle/vocabulary.hpp"
#include "stream.hpp"

namespace mirtle_native {
namespace {

using mirtle_py::Ref;

// (lineno, key, value) as a new tuple.
PyObject* line_tuple(mirtle::LineNo n, std::string_view k, std::string_view v) noexcept {
  Ref lineno = Ref::steal(PyLong_FromUnsignedLongLong(n));
  Ref key = Ref::steal(mirtle_py::new_str(k));
  Ref value = Ref::steal(mirtle_py::new_str(v));
  if (!lineno || !key || !value) return nullptr;
  return PyTuple_Pack(3, lineno.get(), key.get(), value.get());
}

PyObject* section_lines(const CompactSection& section) noexcept {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(section.lines.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < section.lines.size(); ++i) {
    const CompactSection::Line& l = section.lines[i];
    PyObject* item = line_tuple(l.lineno, section.key(l), section.value(l));
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);  // steals
  }
  return list.release();
}

PyObject* line_list(const std::vector<mirtle::RawAttribute>& lines) noexcept {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(lines.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    PyObject* item = line_tuple(lines[i].lineno, lines[i].key, lines[i].value);
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);  // steals
  }
  return list.release();
}

template <typename Build>
PyObject* repr_of(Build build) noexcept {
  return mirtle_py::guarded([&] {
    std::string out;
    build(out);
    return mirtle_py::new_str(out);
  });
}

void append_count(std::string& out, std::size_t count) { out += std::to_string(count); }

// --- Section -----------------------------------------------------------------

struct SectionObject {
  PyObject_HEAD
  CompactSection record;
  PyObject* input;  // owned: the bytes the record's texts are in, or nullptr
};

const CompactSection& record_of(PyObject* self) noexcept {
  return reinterpret_cast<SectionObject*>(self)->record;
}

bool is_account(const CompactSection& r) noexcept { return r.type == mirtle::SectionType::Account; }

// The `kind` attribute: the section type as "account" or "document".
PyObject* section_kind(PyObject* self, void*) {
  return PyUnicode_FromString(is_account(record_of(self)) ? "account" : "document");
}

PyObject* section_doc_type(PyObject* self, void*) {
  const CompactSection& r = record_of(self);
  if (is_account(r)) Py_RETURN_NONE;
  return mirtle_py::new_str(r.doc_type());
}

PyObject* section_start_line(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(record_of(self).start_line);
}

PyObject* section_end_line(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(record_of(self).end_line);
}

PyObject* section_attributes(PyObject* self, void*) { return section_lines(record_of(self)); }

PyGetSetDef section_getset[] = {
    {"kind", section_kind, nullptr, "\"account\" or \"document\".", nullptr},
    {"doc_type", section_doc_type, nullptr, "The document type; None for an account section.", nullptr},
    {"start_line", section_start_line, nullptr, "Line number of the section's opening line.", nullptr},
    {"end_line", section_end_line, nullptr, "Line number of the section's closing line.", nullptr},
    {"attributes", section_attributes, nullptr,
     "A new list of (lineno, key, value) in file order, repeated keys kept.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* section_repr(PyObject* self) {
  const CompactSection& r = record_of(self);
  return repr_of([&](std::string& out) {
    out += is_account(r) ? "Section(kind=\"account\", doc_type=None" : "Section(kind=\"document\", doc_type=";
    if (!is_account(r)) mirtle::append_quoted(out, r.doc_type());
    out += ", start_line=" + std::to_string(r.start_line) + ", end_line=" + std::to_string(r.end_line);
    out += ", attributes=[...";
    append_count(out, r.lines.size());
    out += "])";
  });
}

// Two sections are equal when they hold the same lines at the same numbers.
PyObject* section_compare(PyObject* a, PyObject* b, int op) {
  if (Py_TYPE(a) != Py_TYPE(b) || (op != Py_EQ && op != Py_NE)) Py_RETURN_NOTIMPLEMENTED;
  return PyBool_FromLong((op == Py_EQ) == (record_of(a) == record_of(b)));
}

void section_dealloc(PyObject* self) {
  std::destroy_at(&reinterpret_cast<SectionObject*>(self)->record);
  Py_CLEAR(reinterpret_cast<SectionObject*>(self)->input);
  mirtle_py::free_heap_instance(self);
}

PyType_Slot section_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(section_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(section_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(section_compare)},
    {Py_tp_getset, section_getset},
    {Py_tp_doc, const_cast<char*>("One account or document section of a statement, as written.")},
    {0, nullptr},
};

constexpr unsigned long kFlags =
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE;

PyType_Spec section_spec = {"mirtle.Section", sizeof(SectionObject), 0, kFlags, section_slots};

// A new Section taking over `record`, whose texts may be in `input` (a
// bytes object, or nullptr).
PyObject* new_section(CompactSection&& record, PyObject* input) noexcept {
  PyTypeObject* type = section_class();
  if (type == nullptr) return nullptr;
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  SectionObject* section = reinterpret_cast<SectionObject*>(self);
  new (&section->record) CompactSection(std::move(record));
  section->input = Py_XNewRef(input);
  return self;
}

// --- Sections ----------------------------------------------------------------

struct SectionsObject {
  PyObject_HEAD
  mirtle::Encoding encoding;
  PyObject* header;    // owned list of (lineno, key, value)
  PyObject* sections;  // owned list of Section
};

SectionsObject* as_sections(PyObject* self) noexcept { return reinterpret_cast<SectionsObject*>(self); }

PyObject* sections_encoding(PyObject* self, void*) { return mirtle_py::new_str(mirtle::name(as_sections(self)->encoding)); }

// A stored list; gone only once the collector has cleared the object.
PyObject* stored(PyObject* list, const char* name) {
  if (list != nullptr) return Py_NewRef(list);
  PyErr_Format(PyExc_AttributeError, "Sections.%s was cleared", name);
  return nullptr;
}

PyObject* sections_header(PyObject* self, void*) { return stored(as_sections(self)->header, "header"); }
PyObject* sections_sections(PyObject* self, void*) { return stored(as_sections(self)->sections, "sections"); }

PyGetSetDef sections_getset[] = {
    {"encoding", sections_encoding, nullptr, "\"cp1251\" or \"utf-8\": how the input was decoded.", nullptr},
    {"header", sections_header, nullptr,
     "The header's (lineno, key, value) lines in file order, repeated keys kept (the same list on every read).",
     nullptr},
    {"sections", sections_sections, nullptr, "The Section objects in file order (the same list on every read).",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* sections_repr(PyObject* self) {
  const SectionsObject* s = as_sections(self);
  const std::string_view encoding = mirtle::name(s->encoding);
  // The counts of the lists as they are now (a cleared object shows 0).
  return PyUnicode_FromFormat("Sections(encoding=\"%.*s\", header=[...%zd], sections=[...%zd])",
                              static_cast<int>(encoding.size()), encoding.data(),
                              s->header ? PyList_GET_SIZE(s->header) : 0,
                              s->sections ? PyList_GET_SIZE(s->sections) : 0);
}

int sections_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(as_sections(self)->header);
  Py_VISIT(as_sections(self)->sections);
  return 0;
}

int sections_clear(PyObject* self) {
  Py_CLEAR(as_sections(self)->header);
  Py_CLEAR(as_sections(self)->sections);
  return 0;
}

void sections_dealloc(PyObject* self) {
  PyObject_GC_UnTrack(self);
  sections_clear(self);
  mirtle_py::free_heap_instance(self);
}

PyType_Slot sections_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(sections_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(sections_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(sections_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(sections_repr)},
    {Py_tp_getset, sections_getset},
    {Py_tp_doc, const_cast<char*>("A statement as written: its header lines and its sections, in file order.")},
    {0, nullptr},
};

PyType_Spec sections_spec = {"mirtle.Sections", sizeof(SectionsObject), 0, kFlags | Py_TPFLAGS_HAVE_GC,
                             sections_slots};

PyObject* section_list(std::vector<CompactSection>& sections, PyObject* input) noexcept {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(sections.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    PyObject* item = new_section(std::move(sections[i]), input);
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);  // steals
  }
  return list.release();
}

// Consumes `raw`, whose texts may be in `input` (a bytes object, or
// nullptr); a new Sections object, or nullptr with an error set.
PyObject* new_sections(CompactStatement&& raw, PyObject* input) noexcept {
  Ref header = Ref::steal(line_list(raw.header));
  if (!header) return nullptr;
  Ref sections = Ref::steal(section_list(raw.sections, input));
  if (!sections) return nullptr;
  PyTypeObject* type = sections_class();
  if (type == nullptr) return nullptr;
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  SectionsObject* s = as_sections(self);
  s->encoding = raw.encoding;
  s->header = header.release();      // the object owns both lists from here on
  s->sections = sections.release();
  return self;
}

constexpr const char* kReadParams[] = {"data", "threads"};
constexpr mirtle_py::Signature kReadSignature{"read_sections", kReadParams, 1, 1};

constinit mirtle_py::OnceSlot sections_slot, section_slot;

}  // namespace

PyTypeObject* sections_class() {
  return reinterpret_cast<PyTypeObject*>(sections_slot.get([]() noexcept { return PyType_FromSpec(&sections_spec); }));
}

PyTypeObject* section_class() {
  return reinterpret_cast<PyTypeObject*>(section_slot.get([]() noexcept { return PyType_FromSpec(&section_spec); }));
}

SectionsView sections_view(PyObject* sections) noexcept {
  const SectionsObject* s = as_sections(sections);
  return {s->encoding, s->header, s->sections};
}

mirtle::RawSection section_record(PyObject* section) { return record_of(section).to_raw(); }

PyObject* read_sections(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  PyObject* values[2] = {};
  if (!mirtle_py::bind_fastcall(kReadSignature, args, nargs, kwnames, values)) return nullptr;
  mirtle::ParseOptions options;
  if (!mirtle_py::bind_threads(values[1], options)) return nullptr;
  return mirtle_py::guarded([&]() -> PyObject* {
    mirtle_py::Buffer input;
    if (!input.acquire(values[0], "data")) return nullptr;
    // The texts of a bytes object, which cannot change, are kept in place.
    PyObject* kept = PyBytes_Check(values[0]) ? values[0] : nullptr;
    std::optional<mirtle::Result<CompactStatement, mirtle::ParseError>> result;
    mirtle_py::run_core(true, [&] { result.emplace(read_compact(input.text(), options, kept != nullptr)); });
    if (!*result) return mirtle_py::raise_parse_error(std::move(*result).error());
    return new_sections(std::move(*result).value(), kept);
  });
}

}  // namespace mirtle_native
