#include "export.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "args.hpp"
#include "buffer.hpp"
#include "errors.hpp"
#include "mirtle/balances.hpp"
#include "mirtle/export.hpp"
#include "mirtle/values.hpp"
#include "results.hpp"
#include "statement_from.hpp"

namespace mirtle_native {
namespace {

using mirtle_py::Ref;

// Thrown through the exporter when the Python callable failed; its
// exception waits in the sink.
struct CallFailed {};

// Hands the exporter's blocks to a Python callable, or keeps them when
// there is none.  While the exporter runs detached, the thread attaches
// once a block for the call.
class PythonSink final : public mirtle::ByteSink {
 public:
  explicit PythonSink(PyObject* write) : write_(write == Py_None ? nullptr : write) {}

  void write(std::string_view bytes) override {
    if (write_ == nullptr) {
      kept_ += bytes;
      return;
    }
    if (detached_ != nullptr) PyEval_RestoreThread(detached_);
    const bool written = call(bytes);
    if (detached_ != nullptr) detached_ = PyEval_SaveThread();
    if (!written) throw CallFailed{};
  }

  // Runs `work` detached from the interpreter: whatever it throws is
  // thrown again once the thread is attached.
  template <typename Work>
  void run_detached(Work&& work) {
    std::exception_ptr failure;
    detached_ = PyEval_SaveThread();
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    PyEval_RestoreThread(detached_);
    detached_ = nullptr;
    if (failure) std::rethrow_exception(failure);
  }

  // The kept bytes, or None once they went to the callable.
  PyObject* result() {
    if (write_ != nullptr) Py_RETURN_NONE;
    return PyBytes_FromStringAndSize(kept_.data(), static_cast<Py_ssize_t>(kept_.size()));
  }

  // Raises the callable's exception again; returns nullptr.
  PyObject* raise_failure() {
    PyErr_SetRaisedException(failure_.release());  // steals
    return nullptr;
  }

 private:
  bool call(std::string_view bytes) {
    Ref block = Ref::steal(PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
    Ref outcome = block ? Ref::steal(PyObject_CallOneArg(write_, block.get())) : Ref();
    if (outcome) return true;
    failure_ = Ref::steal(PyErr_GetRaisedException());
    return false;
  }

  PyObject* write_;  // borrowed for the call, or nullptr
  std::string kept_;
  PyThreadState* detached_ = nullptr;
  Ref failure_;
};

bool is_statement(PyObject* obj) {
  PyTypeObject* statement_class = mirtle_py::statement_type();
  return statement_class != nullptr && Py_TYPE(obj) == statement_class;
}

// Runs `write(sink)` and gives what it wrote, or None when it went to
// the callable; the exporter's own failures raise OSError.
template <typename Write>
PyObject* exported(PythonSink& sink, Write write) {
  std::optional<mirtle::ParseError> refused;
  try {
    sink.run_detached([&] {
      auto read = write();
      if (!read) refused = std::move(read).error();
    });
  } catch (const CallFailed&) {
    return sink.raise_failure();
  } catch (const mirtle::ExportError& error) {
    PyErr_SetString(PyExc_OSError, error.what());
    return nullptr;
  }
  if (refused) return mirtle_py::raise_parse_error(std::move(*refused));
  return sink.result();
}

// Exports `source`, a mirtle_py.Statement or the bytes of one: a statement
// through `whole(statement)`, bytes through the streaming `writer()`.
template <typename Whole, typename MakeWriter>
PyObject* export_source(PyObject* source, PythonSink& sink, Whole whole, MakeWriter make_writer) {
  if (is_statement(source)) {
    mirtle::Statement statement;
    if (!statement_from(source, statement, {.encoding = true, .warnings = true})) return nullptr;
    return exported(sink, [&]() -> mirtle::Result<mirtle::Ok, mirtle::ParseError> {
      whole(statement);
      return mirtle::Ok{};
    });
  }
  if (PyErr_Occurred()) return nullptr;
  mirtle_py::Buffer buffer;
  if (!buffer.acquire(source, "source")) return nullptr;
  const std::string_view text = buffer.text();
  return exported(sink, [&] {
    auto writer = make_writer(text);
    return mirtle::export_records(text, *writer);
  });
}

bool flag_of(PyObject* obj, bool& out) {
  const int value = PyObject_IsTrue(obj);
  if (value < 0) return false;
  out = value != 0;
  return true;
}

// --- balances as Python values ---------------------------------------------------

PyObject* optional_amount(const std::optional<mirtle::Decimal>& amount) {
  if (!amount) Py_RETURN_NONE;
  return mirtle_py::new_str(mirtle::format_amount(*amount));
}

PyObject* optional_date(const std::optional<mirtle::Date>& date) {
  if (!date) Py_RETURN_NONE;
  return mirtle_py::new_str(mirtle::format_date(*date));
}

PyObject* optional_flag(const std::optional<bool>& flag) {
  if (!flag) Py_RETURN_NONE;
  return PyBool_FromLong(*flag);
}

PyObject* optional_line(const std::optional<mirtle::LineNo>& line) {
  if (!line) Py_RETURN_NONE;
  return PyLong_FromUnsignedLongLong(*line);
}

// (account, date_start, date_end, lineno, opening, income, expense,
// closing, arithmetic_ok, continuity_ok, documents_income,
// documents_expense, income_difference, expense_difference): dates and
// amounts as mirtle_py writes them.
PyObject* row_tuple(const mirtle::BalanceRow& row) {
  PyObject* items[] = {
      mirtle_py::new_str(row.account),
      optional_date(row.date_start),
      optional_date(row.date_end),
      optional_line(row.lineno),
      optional_amount(row.opening),
      optional_amount(row.income),
      optional_amount(row.expense),
      optional_amount(row.closing),
      optional_flag(row.arithmetic_ok),
      optional_flag(row.continuity_ok),
      optional_amount(row.documents_income),
      optional_amount(row.documents_expense),
      optional_amount(row.income_difference),
      optional_amount(row.expense_difference),
  };
  constexpr Py_ssize_t count = std::size(items);
  Ref tuple = Ref::steal(PyTuple_New(count));
  bool complete = static_cast<bool>(tuple);
  for (Py_ssize_t i = 0; i < count; ++i) {
    complete = complete && items[i] != nullptr;
    if (complete) {
      PyTuple_SET_ITEM(tuple.get(), i, items[i]);  // steals
    } else {
      Py_XDECREF(items[i]);
    }
  }
  return complete ? tuple.release() : nullptr;
}

PyObject* rows_list(const std::vector<mirtle::BalanceRow>& rows) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(rows.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    PyObject* row = row_tuple(rows[i]);
    if (row == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), row);  // steals
  }
  return list.release();
}

constexpr const char* kJsonParams[] = {"statement"};
constexpr mirtle_py::Signature kJsonSignature{"to_json", kJsonParams, 1, 1};
constexpr const char* kCsvParams[] = {"source", "write", "intervals", "excel"};
constexpr mirtle_py::Signature kCsvSignature{"export_csv", kCsvParams, 4, 4};
constexpr const char* kXlsxParams[] = {"source", "write", "attribute_names"};
constexpr mirtle_py::Signature kXlsxSignature{"export_xlsx", kXlsxParams, 3, 3};
constexpr const char* kBalancesParams[] = {"source"};
constexpr mirtle_py::Signature kBalancesSignature{"balances", kBalancesParams, 1, 1};

}  // namespace

PyObject* to_json(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  PyObject* statement_obj = nullptr;
  if (!mirtle_py::bind_fastcall(kJsonSignature, args, nargs, kwnames, &statement_obj)) return nullptr;
  return mirtle_py::guarded([&]() -> PyObject* {
    mirtle::Statement statement;
    if (!statement_from(statement_obj, statement, {.encoding = true, .warnings = true})) return nullptr;
    mirtle::StringSink sink;
    mirtle_py::run_core(true, [&] { mirtle::write_json(statement, sink); });
    std::string_view text = sink.bytes;
    if (text.ends_with('\n')) text.remove_suffix(1);
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
  });
}

PyObject* export_csv(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  PyObject* values[4] = {};
  if (!mirtle_py::bind_fastcall(kCsvSignature, args, nargs, kwnames, values)) return nullptr;
  mirtle::CsvOptions options;
  if (!flag_of(values[2], options.intervals) || !flag_of(values[3], options.excel)) return nullptr;
  return mirtle_py::guarded([&]() -> PyObject* {
    PythonSink sink(values[1]);
    return export_source(
        values[0], sink, [&](const mirtle::Statement& s) { mirtle::write_csv(s, sink, options); },
        [&](std::string_view) { return mirtle::csv_writer(sink, options); });
  });
}

PyObject* export_xlsx(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  PyObject* values[3] = {};
  if (!mirtle_py::bind_fastcall(kXlsxSignature, args, nargs, kwnames, values)) return nullptr;
  mirtle::XlsxOptions options;
  if (!flag_of(values[2], options.attribute_names)) return nullptr;
  if (!mirtle::xlsx_available()) {
    PyErr_SetString(PyExc_NotImplementedError, "this build of mirtle writes no XLSX (it was built without libxlsxwriter)");
    return nullptr;
  }
  return mirtle_py::guarded([&]() -> PyObject* {
    PythonSink sink(values[1]);
    return export_source(
        values[0], sink, [&](const mirtle::Statement& s) { mirtle::write_xlsx(s, sink, options); },
        [&](std::string_view text) { return mirtle::xlsx_writer(sink, options, text); });
  });
}

PyObject* balances(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  PyObject* source = nullptr;
  if (!mirtle_py::bind_fastcall(kBalancesSignature, args, nargs, kwnames, &source)) return nullptr;
  return mirtle_py::guarded([&]() -> PyObject* {
    std::vector<mirtle::BalanceRow> rows;
    if (is_statement(source)) {
      mirtle::Statement statement;
      if (!statement_from(source, statement)) return nullptr;
      mirtle_py::run_core(true, [&] { rows = mirtle::check_balances(statement); });
      return rows_list(rows);
    }
    if (PyErr_Occurred()) return nullptr;
    mirtle_py::Buffer buffer;
    if (!buffer.acquire(source, "source")) return nullptr;
    std::optional<mirtle::ParseError> refused;
    mirtle_py::run_core(true, [&] {
      mirtle::BalanceCollector collector(buffer.text());
      auto read = mirtle::parse_records({}, buffer.text(), collector);
      if (read) {
        rows = collector.finish();
      } else {
        refused = std::move(read).error();
      }
    });
    if (refused) return mirtle_py::raise_parse_error(std::move(*refused));
    return rows_list(rows);
  });
}

}  // namespace mirtle_native
