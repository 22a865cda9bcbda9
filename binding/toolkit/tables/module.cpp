// mirtle._tables: a statement's documents and intervals as Arrow data,
// built in native code and handed over through the Arrow PyCapsule
// interface, so no Python object is made per field.
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "args.hpp"
#include "errors.hpp"
#include "hooks.hpp"
#include "parse.hpp"
#include "py.hpp"
#include "results.hpp"
#include "shared_types.hpp"
#include "statement_tables.hpp"

namespace mirtle_tables {
namespace {

using mirtle_py::Ref;

constexpr const char* kStreamCapsule = "arrow_array_stream";
constexpr const char* kSchemaCapsule = "arrow_schema";

struct ModuleState {
  PyTypeObject* table_type;  // strong
};

ModuleState* state_of(PyObject* module) noexcept {
  return static_cast<ModuleState*>(PyModule_GetState(module));
}

// --- ArrowData: a finished table, exported on request --------------------------

struct ArrowDataObject {
  PyObject_HEAD
  std::shared_ptr<const Table> table;
};

const std::shared_ptr<const Table>& table_of(PyObject* self) noexcept {
  return reinterpret_cast<ArrowDataObject*>(self)->table;
}

void arrow_data_dealloc(PyObject* self) {
  using Shared = std::shared_ptr<const Table>;
  reinterpret_cast<ArrowDataObject*>(self)->table.~Shared();
  mirtle_py::free_heap_instance(self);
}

void stream_capsule_destructor(PyObject* capsule) noexcept {
  auto* stream = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule, kStreamCapsule));
  if (stream == nullptr) return PyErr_Clear();
  // A consumer that took the stream over left it released.
  if (stream->release != nullptr) stream->release(stream);
  delete stream;
}

void schema_capsule_destructor(PyObject* capsule) noexcept {
  auto* schema = static_cast<ArrowSchema*>(PyCapsule_GetPointer(capsule, kSchemaCapsule));
  if (schema == nullptr) return PyErr_Clear();
  if (schema->release != nullptr) schema->release(schema);
  delete schema;
}

// A capsule owning `object`, released by `destructor`; new reference.
template <typename T>
PyObject* new_capsule(std::unique_ptr<T> object, const char* name, PyCapsule_Destructor destructor) {
  PyObject* capsule = PyCapsule_New(object.get(), name, destructor);
  if (capsule != nullptr) object.release();  // the capsule owns it now
  return capsule;
}

constexpr const char* kStreamParams[] = {"requested_schema"};
constexpr mirtle_py::Signature kStreamSignature{"__arrow_c_stream__", kStreamParams, 0};

// The table as an "arrow_array_stream" capsule.  The one schema on offer is
// the table's own, so a requested schema is not consulted.
PyObject* arrow_c_stream(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  PyObject* values[1] = {};
  if (!mirtle_py::bind_fastcall(kStreamSignature, args, nargs, kwnames, values)) return nullptr;
  try {
    auto stream = std::make_unique<ArrowArrayStream>();
    export_stream(table_of(self), stream.get());
    return new_capsule(std::move(stream), kStreamCapsule, stream_capsule_destructor);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

PyObject* arrow_c_schema(PyObject* self, PyObject*) noexcept {
  try {
    auto schema = std::make_unique<ArrowSchema>();
    export_schema(*table_of(self), schema.get());
    return new_capsule(std::move(schema), kSchemaCapsule, schema_capsule_destructor);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

PyObject* arrow_data_num_rows(PyObject* self, void*) noexcept {
  std::int64_t rows = 0;
  for (const Batch& batch : table_of(self)->batches()) rows += batch.rows();
  return PyLong_FromLongLong(rows);
}

PyMethodDef arrow_data_methods[] = {
    {"__arrow_c_stream__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(arrow_c_stream)),
     METH_FASTCALL | METH_KEYWORDS, "__arrow_c_stream__($self, /, requested_schema=None)\n--\n\n"
                                    "The table as an Arrow C stream capsule."},
    {"__arrow_c_schema__", arrow_c_schema, METH_NOARGS,
     "__arrow_c_schema__($self, /)\n--\n\nThe table's schema as an Arrow C schema capsule."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef arrow_data_getset[] = {
    {"num_rows", arrow_data_num_rows, nullptr, "The number of rows.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot arrow_data_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(arrow_data_dealloc)},
    {Py_tp_methods, arrow_data_methods},
    {Py_tp_getset, arrow_data_getset},
    {Py_tp_doc, const_cast<char*>("Columns of a statement in Arrow's memory layout, for any Arrow reader "
                                  "(pyarrow.table(obj)).")},
    {0, nullptr},
};

PyType_Spec arrow_data_spec = {
    .name = "mirtle._tables.ArrowData",
    .basicsize = sizeof(ArrowDataObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = arrow_data_slots,
};

PyObject* new_arrow_data(PyTypeObject* type, std::shared_ptr<const Table> table) {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  new (&reinterpret_cast<ArrowDataObject*>(self)->table) std::shared_ptr<const Table>(std::move(table));
  return self;
}

// --- building a table ---------------------------------------------------------

// A read-only view of a bytes-like object, released on every path.
class BufferView {
 public:
  bool acquire(PyObject* obj) noexcept {
    acquired_ = PyObject_GetBuffer(obj, &view_, PyBUF_SIMPLE) == 0;
    return acquired_;
  }
  ~BufferView() {
    if (acquired_) PyBuffer_Release(&view_);
  }
  std::string_view bytes() const noexcept {
    return std::string_view(static_cast<const char*>(view_.buf), static_cast<std::size_t>(view_.len));
  }

 private:
  Py_buffer view_{};
  bool acquired_ = false;
};

// What one parse left: the table, a core error, or a table error's text.
struct Outcome {
  std::shared_ptr<const Table> table;
  std::optional<mirtle::ParseError> error;
  std::optional<std::string> table_error;
  bool out_of_memory = false;
};

template <typename Rows>
void parse_into_table(std::span<mirtle::Hook* const> hooks, std::string_view input, Outcome& outcome) noexcept {
  try {
    Rows rows;
    auto result = mirtle::parse_records(hooks, input, rows);
    if (result) {
      outcome.table = rows.finish();
    } else {
      outcome.error.emplace(std::move(result).error());
    }
  } catch (const TableError& e) {
    try {
      outcome.table_error.emplace(e.what());
    } catch (const std::bad_alloc&) {
      outcome.out_of_memory = true;
    }
  } catch (const std::bad_alloc&) {
    outcome.out_of_memory = true;
  }
}

// The Python result of an outcome: a new ArrowData, or nullptr with the
// exception set.
PyObject* result_of(PyObject* module, Outcome&& outcome) {
  if (outcome.out_of_memory) return PyErr_NoMemory();
  if (outcome.table_error) {
    PyErr_SetString(PyExc_ValueError, outcome.table_error->c_str());
    return nullptr;
  }
  if (outcome.error) {
    PyObject* exc = mirtle_py::exception_from(std::move(*outcome.error));
    if (exc != nullptr) PyErr_SetRaisedException(exc);  // steals
    return nullptr;
  }
  return new_arrow_data(state_of(module)->table_type, std::move(outcome.table));
}

// Binds (statement, hooks=None), parses into `Rows`, and returns the table.
// Without hooks the parse runs with the thread detached.
template <typename Rows>
PyObject* build_table(PyObject* module, const mirtle_py::Signature& signature, PyObject* const* args,
                      Py_ssize_t nargs, PyObject* kwnames) noexcept {
  PyObject* values[2] = {};
  if (!mirtle_py::bind_fastcall(signature, args, nargs, kwnames, values)) return nullptr;
  try {
    std::vector<mirtle_py::PythonHook> hooks;
    if (values[1] != nullptr && values[1] != Py_None && !mirtle_py::collect_hooks(values[1], hooks)) {
      mirtle_py::add_processing_note("hooks");
      return nullptr;
    }
    BufferView input;
    if (!input.acquire(values[0])) return nullptr;
    Outcome outcome;
    if (hooks.empty()) {
      PyThreadState* thread = PyEval_SaveThread();
      parse_into_table<Rows>({}, input.bytes(), outcome);
      PyEval_RestoreThread(thread);
    } else {
      std::vector<mirtle::Hook*> list;
      list.reserve(hooks.size());
      for (mirtle_py::PythonHook& hook : hooks) list.push_back(&hook);
      parse_into_table<Rows>(list, input.bytes(), outcome);
    }
    return result_of(module, std::move(outcome));
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

constexpr const char* kParams[] = {"statement", "hooks"};
constexpr mirtle_py::Signature kDocumentsSignature{"documents", kParams, 1};
constexpr mirtle_py::Signature kIntervalsSignature{"intervals", kParams, 1};

PyObject* documents(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return build_table<DocumentRows>(module, kDocumentsSignature, args, nargs, kwnames);
}

PyObject* intervals(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return build_table<IntervalRows>(module, kIntervalsSignature, args, nargs, kwnames);
}

// --- the module ----------------------------------------------------------------

PyMethodDef module_methods[] = {
    {"documents", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(documents)),
     METH_FASTCALL | METH_KEYWORDS,
     "documents($module, /, statement, hooks=None)\n--\n\n"
     "The statement's documents as ArrowData: one row per built document."},
    {"intervals", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(intervals)),
     METH_FASTCALL | METH_KEYWORDS,
     "intervals($module, /, statement, hooks=None)\n--\n\n"
     "The statement's balance intervals as ArrowData: one row per interval."},
    {nullptr, nullptr, 0, nullptr},
};

// Errors and hooks use mirtle_py's own classes, so that callers catch and
// compare the same objects whichever entry point they used.
int share_mirtle_py_classes() noexcept {
  Ref mirtle_py_module = Ref::steal(PyImport_ImportModule("mirtle_py"));
  return mirtle_py_module && mirtle_py::adopt_shared_types(mirtle_py_module.get()) ? 0 : -1;
}

int module_exec(PyObject* module) noexcept {
  if (share_mirtle_py_classes() < 0) return -1;
  PyObject* type = PyType_FromModuleAndSpec(module, &arrow_data_spec, nullptr);
  if (type == nullptr) return -1;
  state_of(module)->table_type = reinterpret_cast<PyTypeObject*>(type);  // the state owns it
  return PyModule_AddObjectRef(module, "ArrowData", type);
}

int module_traverse(PyObject* module, visitproc visit, void* arg) {
  Py_VISIT(state_of(module)->table_type);
  return 0;
}

int module_clear(PyObject* module) {
  Py_CLEAR(state_of(module)->table_type);
  return 0;
}

void module_free(void* module) { module_clear(static_cast<PyObject*>(module)); }

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    // The mirtle_py classes it shares exist once per process.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "mirtle._tables",
    .m_doc = "Statements as Arrow data, built natively.",
    .m_size = sizeof(ModuleState),
    .m_methods = module_methods,
    .m_slots = module_slots,
    .m_traverse = module_traverse,
    .m_clear = module_clear,
    .m_free = module_free,
};

}  // namespace
}  // namespace mirtle_tables

PyMODINIT_FUNC PyInit__tables() { return PyModuleDef_Init(&mirtle_tables::module_def); }
