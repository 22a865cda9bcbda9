#include "errors.hpp"

#include <array>
#include <charconv>
#include <new>
#include <string>

#include "args.hpp"
#include "mirtle/message.hpp"
#include "mirtle/quote.hpp"
#include "mirtle/vocabulary.hpp"

namespace mirtle_py {
namespace {

using mirtle::SyntaxKind;

// --- exception types ------------------------------------------------------

// Indexed by ExceptionKind; every type but ParseError derives from ParseError.
constexpr std::array<const char*, 5> kExceptionNames = {
    "mirtle_py.ParseError", "mirtle_py.NotStatementError", "mirtle_py.EmptyInputError",
    "mirtle_py.UnfinishedError", "mirtle_py.SyntaxError",
};

constinit std::array<OnceSlot, 5> exception_slots{};

PyObject* create_exception(ExceptionKind kind) noexcept {
  PyObject* base = PyExc_Exception;
  if (kind != ExceptionKind::Parse) {
    base = exception_type(ExceptionKind::Parse);
    if (base == nullptr) return nullptr;
  }
  PyObject* type = PyErr_NewException(kExceptionNames[static_cast<std::size_t>(kind)], base, nullptr);
  if (type == nullptr) {
    PyObject* cause = PyErr_GetRaisedException();
    PyErr_Format(PyExc_RuntimeError, "Failed to initialize new exception type. %S", cause);
    PyObject* raised = PyErr_GetRaisedException();
    PyException_SetCause(raised, cause);  // steals `cause`
    PyErr_SetRaisedException(raised);
  }
  return type;
}

// --- detail classes -------------------------------------------------------

struct DetailObject {
  PyObject_HEAD
  std::uint64_t lineno;
  std::string texts[2];
};

struct DetailInfo {
  const char* type_name;
  const char* new_name;  // how argument errors name the constructor
  const char* doc;
  std::array<const char*, 3> params;  // "lineno" and the text fields
  std::size_t text_count;
};

// Indexed by SyntaxKind.
constexpr std::array<DetailInfo, 7> kDetails = {{
    {"mirtle_py.UnexpectedSection", "UnexpectedSection.__new__",
     "UnexpectedSection(lineno, found, context)\n--\n\n", {"lineno", "found", "context"}, 2},
    {"mirtle_py.UnexpectedAttribute", "UnexpectedAttribute.__new__",
     "UnexpectedAttribute(lineno, key, value)\n--\n\n", {"lineno", "key", "value"}, 2},
    {"mirtle_py.UnrecognizedLine", "UnrecognizedLine.__new__",
     "UnrecognizedLine(lineno, line)\n--\n\n", {"lineno", "line", nullptr}, 1},
    {"mirtle_py.MissingField", "MissingField.__new__",
     "MissingField(lineno, field, context)\n--\n\n", {"lineno", "field", "context"}, 2},
    {"mirtle_py.AccountParseError", "AccountParseError.__new__",
     "AccountParseError(lineno, message)\n--\n\n", {"lineno", "message", nullptr}, 1},
    {"mirtle_py.DocumentParseError", "DocumentParseError.__new__",
     "DocumentParseError(lineno, message)\n--\n\n", {"lineno", "message", nullptr}, 1},
    {"mirtle_py.HookError", "HookError.__new__",
     "HookError(lineno, message)\n--\n\n", {"lineno", "message", nullptr}, 1},
}};

constinit std::array<OnceSlot, 7> detail_slots{};

// The kind whose class `type` is; every detail object's type is one of ours.
std::size_t detail_index(PyTypeObject* type) noexcept {
  for (std::size_t i = 0; i < detail_slots.size(); ++i)
    if (detail_slots[i].peek() == reinterpret_cast<PyObject*>(type)) return i;
  return 0;
}

const DetailInfo& info_of(PyObject* self) noexcept { return kDetails[detail_index(Py_TYPE(self))]; }

const char* short_name(const DetailInfo& info) noexcept {
  return info.type_name + sizeof("mirtle_py.") - 1;
}

PyObject* make_detail(PyTypeObject* type, std::uint64_t lineno, std::string first,
                      std::string second) noexcept {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  auto* detail = reinterpret_cast<DetailObject*>(self);
  detail->lineno = lineno;
  new (&detail->texts[0]) std::string(std::move(first));
  new (&detail->texts[1]) std::string(std::move(second));
  return self;
}

void detail_dealloc(PyObject* self) {
  auto* detail = reinterpret_cast<DetailObject*>(self);
  using std::string;
  detail->texts[0].~string();
  detail->texts[1].~string();
  free_heap_instance(self);
}

bool convert_lineno(PyObject* arg, std::uint64_t& out) noexcept {
  PyObject* index = PyNumber_Index(arg);
  if (index != nullptr) {
    out = PyLong_AsUnsignedLongLong(index);
    Py_DECREF(index);
    if (!(out == static_cast<std::uint64_t>(-1) && PyErr_Occurred())) return true;
  }
  add_processing_note("lineno");
  return false;
}

// Throws std::bad_alloc.
bool convert_text(PyObject* arg, const char* name, std::string& out) {
  std::string_view text;
  if (!PyUnicode_Check(arg)) {
    PyErr_Format(PyExc_TypeError, "argument '%s' must be str, not %T", name, arg);
  } else if (str_utf8(arg, text)) {
    out.assign(text);
    return true;
  }
  add_processing_note(name);
  return false;
}

PyObject* detail_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  const DetailInfo& info = kDetails[detail_index(type)];
  const std::size_t count = info.text_count + 1;
  const Signature sig{info.new_name, std::span(info.params.data(), count), count};
  PyObject* values[3] = {};
  if (!bind_tuple(sig, args, kwargs, values)) return nullptr;
  return guarded([&]() -> PyObject* {
    std::uint64_t lineno = 0;
    std::string texts[2];
    if (!convert_lineno(values[0], lineno)) return nullptr;
    for (std::size_t i = 0; i < info.text_count; ++i)
      if (!convert_text(values[i + 1], info.params[i + 1], texts[i])) return nullptr;
    return make_detail(type, lineno, std::move(texts[0]), std::move(texts[1]));
  });
}

PyObject* detail_lineno(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(reinterpret_cast<DetailObject*>(self)->lineno);
}

PyObject* detail_text(PyObject* self, void* which) {
  return new_str(reinterpret_cast<DetailObject*>(self)->texts[reinterpret_cast<std::uintptr_t>(which)]);
}

PyObject* detail_repr(PyObject* self) noexcept {
  const auto* detail = reinterpret_cast<DetailObject*>(self);
  const DetailInfo& info = info_of(self);
  return guarded([&] {
    std::string out = short_name(info);
    out += "(lineno=";
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, detail->lineno).ptr);
    for (std::size_t i = 0; i < info.text_count; ++i) {
      out += ", ";
      out += info.params[i + 1];
      out += '=';
      mirtle::append_quoted(out, detail->texts[i]);
    }
    out += ')';
    return new_str(out);
  });
}

PyObject* detail_getnewargs(PyObject* self, PyObject*) {
  const auto* detail = reinterpret_cast<DetailObject*>(self);
  const std::size_t text_count = info_of(self).text_count;
  Ref args = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(text_count + 1)));
  if (!args) return nullptr;
  PyObject* lineno = PyLong_FromUnsignedLongLong(detail->lineno);
  if (lineno == nullptr) return nullptr;
  PyTuple_SET_ITEM(args.get(), 0, lineno);
  for (std::size_t i = 0; i < text_count; ++i) {
    PyObject* text = new_str(detail->texts[i]);
    if (text == nullptr) return nullptr;
    PyTuple_SET_ITEM(args.get(), static_cast<Py_ssize_t>(i + 1), text);
  }
  return args.release();
}

PyMethodDef detail_methods[] = {
    {"__getnewargs__", detail_getnewargs, METH_NOARGS, "__getnewargs__($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

// One property table per class: lineno, then its texts in field order.
#define MIRTLE_TEXT_GETTER(name, index) \
  {name, detail_text, nullptr, nullptr, reinterpret_cast<void*>(std::uintptr_t{index})}
#define MIRTLE_DETAIL_GETSET(first, second)                                                     \
  {{"lineno", detail_lineno, nullptr, nullptr, nullptr}, MIRTLE_TEXT_GETTER(first, 0),          \
   MIRTLE_TEXT_GETTER(second, 1), {nullptr, nullptr, nullptr, nullptr, nullptr}}
#define MIRTLE_DETAIL_GETSET1(first)                                                   \
  {{"lineno", detail_lineno, nullptr, nullptr, nullptr}, MIRTLE_TEXT_GETTER(first, 0), \
   {nullptr, nullptr, nullptr, nullptr, nullptr}, {nullptr, nullptr, nullptr, nullptr, nullptr}}

PyGetSetDef detail_getsets[7][4] = {
    MIRTLE_DETAIL_GETSET("found", "context"), MIRTLE_DETAIL_GETSET("key", "value"),
    MIRTLE_DETAIL_GETSET1("line"),            MIRTLE_DETAIL_GETSET("field", "context"),
    MIRTLE_DETAIL_GETSET1("message"),         MIRTLE_DETAIL_GETSET1("message"),
    MIRTLE_DETAIL_GETSET1("message"),
};

PyObject* create_detail_type(std::size_t index) noexcept {
  const DetailInfo& info = kDetails[index];
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(detail_new)},
      {Py_tp_dealloc, reinterpret_cast<void*>(detail_dealloc)},
      {Py_tp_repr, reinterpret_cast<void*>(detail_repr)},
      {Py_tp_getset, detail_getsets[index]},
      {Py_tp_methods, detail_methods},
      {Py_tp_doc, const_cast<char*>(info.doc)},
      {0, nullptr},
  };
  PyType_Spec spec = {info.type_name, sizeof(DetailObject), 0,
                      Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
  PyObject* type = PyType_FromSpec(&spec);
  if (type == nullptr) return nullptr;
  if (!clear_type_doc(reinterpret_cast<PyTypeObject*>(type))) {
    Py_DECREF(type);
    return nullptr;
  }
  return type;
}

// --- translation of core errors ---------------------------------------------

// The exception classes are ordinary mutable classes: Python code may have
// given one a __new__ that returns anything.  What is not an exception is
// refused as a raise statement would refuse it.
PyObject* new_exception(ExceptionKind kind, std::string_view message) {
  PyObject* type = exception_type(kind);
  if (type == nullptr) return nullptr;
  const Ref text = Ref::steal(new_str(message));
  if (!text) return nullptr;
  Ref exc = Ref::steal(PyObject_CallOneArg(type, text.get()));
  if (exc && !PyExceptionInstance_Check(exc.get())) {
    PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
    return nullptr;
  }
  return exc.release();
}

PyObject* syntax_exception(mirtle::ParseError&& e, std::string_view message) {
  Ref exc = Ref::steal(new_exception(ExceptionKind::Syntax, message));
  if (!exc) return nullptr;
  PyTypeObject* type = detail_type(e.syntax);
  if (type == nullptr) return nullptr;
  // The detail's second text is the context name or the attribute's value.
  std::string second = e.syntax == SyntaxKind::UnexpectedSection || e.syntax == SyntaxKind::MissingField
                           ? std::string(mirtle::name(e.context))
                           : std::move(e.value);
  Ref detail = Ref::steal(make_detail(type, e.lineno, std::move(e.text), std::move(second)));
  if (!detail || PyObject_SetAttrString(exc.get(), "detail", detail.get()) < 0) return nullptr;
  return exc.release();
}

// The exception class a core error raises.
ExceptionKind exception_kind(mirtle::ErrorKind kind) noexcept {
  switch (kind) {
    case mirtle::ErrorKind::Unfinished: return ExceptionKind::Unfinished;
    case mirtle::ErrorKind::NotStatement: return ExceptionKind::NotStatement;
    case mirtle::ErrorKind::EmptyInput: return ExceptionKind::EmptyInput;
    case mirtle::ErrorKind::Syntax: return ExceptionKind::Syntax;
    case mirtle::ErrorKind::InvalidDocument: break;
  }
  return ExceptionKind::Parse;
}

}  // namespace

PyObject* exception_type(ExceptionKind kind) {
  return exception_slots[static_cast<std::size_t>(kind)].get([kind]() noexcept { return create_exception(kind); });
}

PyTypeObject* detail_type(mirtle::SyntaxKind kind) {
  const auto index = static_cast<std::size_t>(kind);
  return reinterpret_cast<PyTypeObject*>(
      detail_slots[index].get([index]() noexcept { return create_detail_type(index); }));
}

PyObject* exception_from(mirtle::ParseError error) {
  const std::string message = mirtle::describe(error);
  if (error.is_syntax()) return syntax_exception(std::move(error), message);
  return new_exception(exception_kind(error.kind), message);
}

PyObject* raise_parse_error(mirtle::ParseError error) {
  PyObject* exc = exception_from(std::move(error));  // new, always an exception
  if (exc != nullptr) PyErr_SetRaisedException(exc);  // steals it
  return nullptr;
}

}  // namespace mirtle_py
