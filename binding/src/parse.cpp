#include "parse.hpp"

#include <algorithm>
#include <new>
#include <optional>
#include <vector>

#include "args.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "hooks.hpp"
#include "mirtle/statement.hpp"

namespace mirtle_py {
namespace {

constexpr const char* kParams[] = {"statement", "hooks"};
constexpr Signature kParseSignature{"parse", kParams, 1};

// A reported length only sizes the first allocation; iteration decides.
constexpr Py_ssize_t kMaxHooksHint = 1024;

}  // namespace

bool collect_hooks(PyObject* hooks, std::vector<PythonHook>& out) {
  if (PyUnicode_Check(hooks)) {
    PyErr_SetString(PyExc_TypeError, "hooks must be a sequence of callables, not str");
    return false;
  }
  if (!PySequence_Check(hooks)) {
    PyErr_Format(PyExc_TypeError, "'%T' object is not a Sequence", hooks);
    return false;
  }
  Py_ssize_t hint = PyObject_Size(hooks);
  if (hint < 0) {
    PyErr_Clear();
    hint = 0;
  }
  out.reserve(static_cast<std::size_t>(std::min(hint, kMaxHooksHint)));
  Ref iterator = Ref::steal(PyObject_GetIter(hooks));
  if (!iterator) return false;
  for (;;) {
    PyObject* item = nullptr;
    const int rc = PyIter_NextItem(iterator.get(), &item);
    if (rc < 0) return false;
    if (rc == 0) return true;
    Ref owned = Ref::steal(item);
    out.emplace_back(std::move(owned));  // released by `owned` if this throws
  }
}

namespace {

// The statement's bytes: a str's own UTF-8 buffer, or a bytes object's.
std::optional<std::string_view> statement_bytes(PyObject* statement) {
  if (PyUnicode_Check(statement)) {
    std::string_view text;
    if (str_utf8(statement, text)) return text;
    PyErr_Clear();  // a lone surrogate: refused below like any other value
  } else if (PyBytes_Check(statement)) {
    return std::string_view(PyBytes_AS_STRING(statement),
                            static_cast<std::size_t>(PyBytes_GET_SIZE(statement)));
  }
  PyErr_SetString(PyExc_TypeError, "statement must be bytes or str");
  return std::nullopt;
}

// Runs the core detached from the interpreter: nothing Python is touched.
std::optional<mirtle::ParseResult> parse_detached(std::string_view input) {
  std::optional<mirtle::ParseResult> result;
  bool out_of_memory = false;
  PyThreadState* thread = PyEval_SaveThread();
  try {
    result.emplace(mirtle::parse_statement({}, input));
  } catch (const std::bad_alloc&) {
    out_of_memory = true;
  }
  PyEval_RestoreThread(thread);
  if (out_of_memory) PyErr_NoMemory();
  return result;
}

std::optional<mirtle::ParseResult> parse_with_hooks(std::vector<PythonHook>& hooks,
                                                    std::string_view input) {
  std::vector<mirtle::Hook*> list;
  list.reserve(hooks.size());
  for (PythonHook& hook : hooks) list.push_back(&hook);
  return mirtle::parse_statement(list, input);
}

PyObject* run(PyObject* statement, PyObject* hooks_arg) {
  std::vector<PythonHook> hooks;
  if (hooks_arg != nullptr && hooks_arg != Py_None && !collect_hooks(hooks_arg, hooks)) {
    add_processing_note("hooks");
    return nullptr;
  }
  const std::optional<std::string_view> input = statement_bytes(statement);
  if (!input) return nullptr;

  std::optional<mirtle::ParseResult> result =
      hooks.empty() ? parse_detached(*input) : parse_with_hooks(hooks, *input);
  if (!result) return nullptr;
  if (!*result) {
    PyObject* exc = exception_from(std::move(*result).error());  // new, always an exception
    if (exc != nullptr) PyErr_SetRaisedException(exc);               // steals it
    return nullptr;
  }
  return statement_from(std::move(*result).value());
}

}  // namespace

PyObject* parse(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* values[2] = {};
  if (!bind_fastcall(kParseSignature, args, nargs, kwnames, values)) return nullptr;
  try {
    return run(values[0], values[1]);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

}  // namespace mirtle_py
