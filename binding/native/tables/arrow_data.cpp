#include "arrow_data.hpp"

#include <memory>
#include <optional>
#include <string>

#include "args.hpp"
#include "buffer.hpp"
#include "errors.hpp"
#include "hooks.hpp"
#include "mirtle/two_parts.hpp"
#include "statement_tables.hpp"

namespace mirtle_native {
namespace {

using mirtle_tables::Batch;
using mirtle_tables::Table;

constexpr const char* kStreamCapsule = "arrow_array_stream";
constexpr const char* kSchemaCapsule = "arrow_schema";

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
  return mirtle_py::guarded([&] {
    auto stream = std::make_unique<ArrowArrayStream>();
    mirtle_tables::export_stream(table_of(self), stream.get());
    return new_capsule(std::move(stream), kStreamCapsule, stream_capsule_destructor);
  });
}

PyObject* arrow_c_schema(PyObject* self, PyObject*) noexcept {
  return mirtle_py::guarded([&] {
    auto schema = std::make_unique<ArrowSchema>();
    mirtle_tables::export_schema(*table_of(self), schema.get());
    return new_capsule(std::move(schema), kSchemaCapsule, schema_capsule_destructor);
  });
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
    .name = "mirtle._native.ArrowData",
    .basicsize = sizeof(ArrowDataObject),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = arrow_data_slots,
};

constinit mirtle_py::OnceSlot arrow_data_slot;

// A new ArrowData holding `table`, or nullptr with an error set.
PyObject* new_arrow_data(std::shared_ptr<const Table> table) noexcept {
  PyTypeObject* type = arrow_data_class();
  if (type == nullptr) return nullptr;
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  new (&reinterpret_cast<ArrowDataObject*>(self)->table) std::shared_ptr<const Table>(std::move(table));
  return self;
}

// --- building tables ---------------------------------------------------------

// What one parse left: the finished sink, a core error, or a table error's
// text (which names the document or interval that does not fit).
template <typename Rows>
struct Outcome {
  decltype(std::declval<Rows&>().finish()) tables;
  std::optional<mirtle::ParseError> error;
  std::optional<std::string> table_error;
};

// The rows of each part of a statement read in two parts at once, joined
// into the first's.
template <typename Rows>
class RowParts final : public mirtle::SplitSink {
 public:
  // The first part's rows have room for the whole statement's, so that
  // the second's join them where they are.
  explicit RowParts(std::size_t text_bytes) : text_bytes_(text_bytes) { reset(); }

  mirtle::RecordSink& first() override { return *first_; }
  mirtle::RecordSink& second() override { return second_; }
  void join(mirtle::LineNo lines_before) override { first_->append(std::move(*second_.rows), lines_before); }
  void reset() override {
    first_.emplace(text_bytes_);
    second_.rows.emplace(text_bytes_ / 2);
  }

  auto finish() { return first_->finish(); }

 private:
  // The second part's rows.  A document whose texts no row can hold is
  // named by its line in the whole statement, which this part cannot know:
  // the statement is read whole instead, to report it.
  struct Later final : mirtle::RecordSink {
    void on_header(mirtle::Encoding, const mirtle::AttributeMap&) override {}
    void on_interval(std::string_view account, mirtle::Interval&& interval, mirtle::LineNo lineno) override {
      rows->on_interval(account, std::move(interval), lineno);
    }
    void on_document(mirtle::Document&& document, mirtle::LineNo lineno) override {
      try {
        rows->on_document(std::move(document), lineno);
      } catch (const mirtle_tables::TableError&) {
        throw mirtle::TwoPartReader::Whole{};
      }
    }
    void on_warning(mirtle::Warning&&) override {}

    std::optional<Rows> rows;
  };

  std::size_t text_bytes_;
  std::optional<Rows> first_;
  Later second_;
};

// Runs the parse into `Rows` (detached when there are no hooks; in two
// parts at once as `options` allow).  Throws std::bad_alloc.
template <typename Rows>
Outcome<Rows> parse_into(const mirtle_py::HookList& hooks, std::string_view input,
                         const mirtle::ParseOptions& options) {
  Outcome<Rows> outcome;
  mirtle_py::run_core(hooks.empty(), [&] {
    try {
      RowParts<Rows> rows(input.size());
      auto result = mirtle::parse_records(hooks.list(), input, rows, options);
      if (result) {
        outcome.tables = rows.finish();
      } else {
        outcome.error.emplace(std::move(result).error());
      }
    } catch (const mirtle_tables::TableError& e) {
      outcome.table_error.emplace(e.what());
    }
  });
  return outcome;
}

// Binds (statement, hooks=None, threads=None), parses into `Rows`, and hands the finished
// tables to `wrap`, which makes the Python result.
template <typename Rows, typename Wrap>
PyObject* build(const mirtle_py::Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                Wrap wrap) noexcept {
  PyObject* values[3] = {};
  if (!mirtle_py::bind_fastcall(signature, args, nargs, kwnames, values)) return nullptr;
  mirtle::ParseOptions options;
  if (!mirtle_py::bind_threads(values[2], options)) return nullptr;
  return mirtle_py::guarded([&]() -> PyObject* {
    mirtle_py::HookList hooks;
    if (!hooks.collect(values[1])) return nullptr;
    mirtle_py::Buffer input;
    if (!input.acquire(values[0], "statement")) return nullptr;
    Outcome<Rows> outcome = parse_into<Rows>(hooks, input.text(), options);
    if (outcome.table_error) {
      PyErr_SetString(PyExc_ValueError, outcome.table_error->c_str());
      return nullptr;
    }
    if (outcome.error) return mirtle_py::raise_parse_error(std::move(*outcome.error));
    return wrap(std::move(outcome.tables));
  });
}

constexpr const char* kParams[] = {"statement", "hooks", "threads"};
constexpr mirtle_py::Signature kDocumentsSignature{"documents", kParams, 1};
constexpr mirtle_py::Signature kIntervalsSignature{"intervals", kParams, 1};
constexpr mirtle_py::Signature kTablesSignature{"tables", kParams, 1};

}  // namespace

PyTypeObject* arrow_data_class() {
  return reinterpret_cast<PyTypeObject*>(
      arrow_data_slot.get([]() noexcept { return PyType_FromSpec(&arrow_data_spec); }));
}

PyObject* documents(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return build<mirtle_tables::DocumentRows>(kDocumentsSignature, args, nargs, kwnames, new_arrow_data);
}

PyObject* intervals(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return build<mirtle_tables::IntervalRows>(kIntervalsSignature, args, nargs, kwnames, new_arrow_data);
}

PyObject* tables(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return build<mirtle_tables::StatementRows>(kTablesSignature, args, nargs, kwnames, [](auto&& both) -> PyObject* {
    mirtle_py::Ref documents = mirtle_py::Ref::steal(new_arrow_data(std::move(both.first)));
    if (!documents) return nullptr;
    mirtle_py::Ref intervals = mirtle_py::Ref::steal(new_arrow_data(std::move(both.second)));
    if (!intervals) return nullptr;
    return PyTuple_Pack(2, documents.get(), intervals.get());
  });
}

}  // namespace mirtle_native
