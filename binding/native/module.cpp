// mirtle._native: the native parts of the mirtle package.  It is built into
// mirtle_py's shared object and loaded from that file, so both modules see
// the same process-wide types: the exceptions it raises and the SectionType
// values its hooks receive are mirtle_py's own, with nothing to adopt.  No
// module state.
#include <string>
#include <string_view>

#include "args.hpp"
#include "errors.hpp"
#include "export.hpp"
#include "parse.hpp"
#include "py.hpp"
#include "sections.hpp"
#include "tables/arrow_data.hpp"
#include "vocabulary.hpp"
#include "write.hpp"

namespace mirtle_native {
namespace {

using mirtle_py::Ref;

constexpr const char* kErrorParams[] = {"lineno", "message"};
constexpr mirtle_py::Signature kErrorSignature{"document_error", kErrorParams, 2, 2};

// document_error(lineno, message, /): the mirtle_py.SyntaxError with a
// DocumentParseError detail that mirtle_py would raise for a document that
// could not be built (a new reference to the exception, not raised).
PyObject* document_error(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  PyObject* values[2] = {};
  if (!mirtle_py::bind_fastcall(kErrorSignature, args, nargs, kwnames, values)) return nullptr;
  const unsigned long long lineno = PyLong_AsUnsignedLongLong(values[0]);
  if (lineno == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return nullptr;
  std::string_view message;
  if (!PyUnicode_Check(values[1])) {
    PyErr_Format(PyExc_TypeError, "message must be str, not %T", values[1]);
    return nullptr;
  }
  if (!mirtle_py::str_utf8(values[1], message)) return nullptr;
  return mirtle_py::guarded([&] {
    return mirtle_py::exception_from(
        mirtle::ParseError::with_message(mirtle::SyntaxKind::DocumentParseError, lineno, std::string(message)));
  });
}

template <auto function>
constexpr PyCFunction fastcall() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

constexpr int kFastcall = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef methods[] = {
    {"parse", fastcall<mirtle_py::parse_buffer>(), kFastcall,
     "parse($module, /, statement, hooks=None)\n--\n\n"
     "mirtle_py.parse over any contiguous buffer, read in place."},
    {"read_sections", fastcall<read_sections>(), kFastcall,
     "read_sections($module, data, /, threads=None)\n--\n\n"
     "The section stream of a statement in any contiguous buffer; `threads` as for documents."},
    {"document_error", fastcall<document_error>(), kFastcall,
     "document_error($module, lineno, message, /)\n--\n\n"
     "The mirtle_py.SyntaxError for a document that could not be built (returned, not raised)."},
    {"write_statement", fastcall<write_statement>(), kFastcall,
     "write_statement($module, statement, encoding, newline, update_encoding_header, /)\n--\n\n"
     "The text of a mirtle_py.Statement's records."},
    {"write_raw", fastcall<write_raw>(), kFastcall,
     "write_raw($module, header, sections, encoding, newline, update_encoding_header, /)\n--\n\n"
     "The text of header lines and sections as given."},
    {"document_fields", document_fields, METH_NOARGS,
     "document_fields($module, /)\n--\n\n"
     "The document fields in record order: (attribute, key, kind, required)."},
    {"interval_fields", interval_fields, METH_NOARGS,
     "interval_fields($module, /)\n--\n\n"
     "The interval fields in mirtle_py.Interval's order: (attribute, key, is_date, required)."},
    {"header_name", fastcall<header_name>(), kFastcall,
     "header_name($module, encoding, /)\n--\n\n"
     "The Кодировка value a written statement gives the encoding: 'Windows' or 'UTF-8'."},
    {"statement_date", fastcall<statement_date>(), kFastcall,
     "statement_date($module, year, month, day, /)\n--\n\n"
     "The date as a statement writes it (dd.mm.yyyy), or None when it is no date a reader gives."},
    {"documents", fastcall<documents>(), kFastcall,
     "documents($module, /, statement, hooks=None, threads=None)\n--\n\n"
     "The statement's documents as ArrowData: one row per built document.  `threads`: None or 0 reads\n"
     "a large statement in two parts at once where the machine allows, 1 on this thread only, 2 in two\n"
     "parts whenever it can be cut, whatever its size; the result is the same."},
    {"intervals", fastcall<intervals>(), kFastcall,
     "intervals($module, /, statement, hooks=None, threads=None)\n--\n\n"
     "The statement's balance intervals as ArrowData: one row per interval."},
    {"tables", fastcall<tables>(), kFastcall,
     "tables($module, /, statement, hooks=None, threads=None)\n--\n\n"
     "(documents, intervals) as ArrowData from one parse."},
    {"to_json", fastcall<to_json>(), kFastcall,
     "to_json($module, statement, /)\n--\n\n"
     "A mirtle_py.Statement as compact JSON text, as `mirtle json` prints it without its final line feed."},
    {"export_csv", fastcall<export_csv>(), kFastcall,
     "export_csv($module, source, write, intervals, excel, /)\n--\n\n"
     "CSV of a mirtle_py.Statement or of a statement's bytes, given to write(block) or returned (write None)."},
    {"export_xlsx", fastcall<export_xlsx>(), kFastcall,
     "export_xlsx($module, source, write, attribute_names, /)\n--\n\n"
     "An XLSX workbook of a mirtle_py.Statement or of a statement's bytes, given to write(block) or returned."},
    {"balances", fastcall<balances>(), kFastcall,
     "balances($module, source, /)\n--\n\n"
     "The balance checks of a mirtle_py.Statement or of a statement's bytes: a tuple per interval."},
    {nullptr, nullptr, 0, nullptr},
};

bool add_type(PyObject* module, const char* name, PyTypeObject* type) {
  return type != nullptr && PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(type)) == 0;
}

// The module's classes, in the order it shows them.
int exec_module(PyObject* module) {
  if (!add_type(module, "Sections", sections_class()) || !add_type(module, "Section", section_class()) ||
      !add_type(module, "ArrowData", arrow_data_class()))
    return -1;
  PyObject* write_error = write_error_type();  // borrowed
  if (write_error == nullptr || PyModule_AddObjectRef(module, "WriteError", write_error) < 0) return -1;
  return add_vocabulary_constants(module) ? 0 : -1;
}

PyModuleDef module_def = mirtle_py::module_definition("mirtle._native", "Native parts of the mirtle package.",
                                                       methods, mirtle_py::module_slots<exec_module>);

}  // namespace
}  // namespace mirtle_native

// The second entry of mirtle_py's shared object (see binding/exports.map).
PyMODINIT_FUNC PyInit__native() { return PyModuleDef_Init(&mirtle_native::module_def); }
