#include "parse.hpp"

#include <optional>

#include "args.hpp"
#include "buffer.hpp"
#include "errors.hpp"
#include "hooks.hpp"
#include "mirtle/statement.hpp"
#include "to_python.hpp"

namespace mirtle_py {
namespace {

constexpr const char* kParams[] = {"statement", "hooks"};
constexpr Signature kParseSignature{"parse", kParams, 1};

// mirtle_py.parse takes a str's own UTF-8 buffer, or a bytes object's.
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

PyObject* parse_input(const HookList& hooks, std::string_view input) {
  std::optional<mirtle::ParseResult> result;
  run_core(hooks.empty(), [&] { result.emplace(mirtle::parse_statement(hooks.list(), input)); });
  if (!*result) return raise_parse_error(std::move(*result).error());
  return statement_from(std::move(*result).value());
}

}  // namespace

PyObject* parse(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  PyObject* values[2] = {};
  if (!bind_fastcall(kParseSignature, args, nargs, kwnames, values)) return nullptr;
  return guarded([&]() -> PyObject* {
    HookList hooks;
    if (!hooks.collect(values[1])) return nullptr;
    const std::optional<std::string_view> input = statement_bytes(values[0]);
    if (!input) return nullptr;
    return parse_input(hooks, *input);
  });
}

PyObject* parse_buffer(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  PyObject* values[2] = {};
  if (!bind_fastcall(kParseSignature, args, nargs, kwnames, values)) return nullptr;
  return guarded([&]() -> PyObject* {
    HookList hooks;
    if (!hooks.collect(values[1])) return nullptr;
    Buffer input;
    if (!input.acquire(values[0], "statement")) return nullptr;
    return parse_input(hooks, input.text());
  });
}

}  // namespace mirtle_py
