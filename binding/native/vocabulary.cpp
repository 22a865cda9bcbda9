#include "vocabulary.hpp"

#include <climits>
#include <cstdint>
#include <string_view>

#include "args.hpp"
#include "mirtle/values.hpp"
#include "mirtle/vocabulary.hpp"

namespace mirtle_native {
namespace {

using mirtle_py::Ref;

constexpr const char* kHeaderNameParams[] = {"encoding"};
constexpr mirtle_py::Signature kHeaderNameSignature{"header_name", kHeaderNameParams, 1, 1};
constexpr const char* kDateParams[] = {"year", "month", "day"};
constexpr mirtle_py::Signature kDateSignature{"statement_date", kDateParams, 3, 3};

// A C long of `value`, or false with an error set.
bool as_long(PyObject* value, long& out) noexcept {
  out = PyLong_AsLong(value);
  return !(out == -1 && PyErr_Occurred());
}

}  // namespace

PyObject* interval_fields(PyObject*, PyObject*) noexcept {
  const auto& fields = mirtle::kIntervalAttributes;
  Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(fields.size())));
  if (!tuple) return nullptr;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const mirtle::IntervalAttribute& f = fields[i];
    PyObject* item = Py_BuildValue("(s#s#OO)", f.name.data(), static_cast<Py_ssize_t>(f.name.size()), f.key.data(),
                                   static_cast<Py_ssize_t>(f.key.size()), f.is_date ? Py_True : Py_False,
                                   f.required ? Py_True : Py_False);
    if (item == nullptr) return nullptr;
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);  // steals
  }
  return tuple.release();
}

PyObject* header_name(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  PyObject* values[1] = {};
  if (!mirtle_py::bind_fastcall(kHeaderNameSignature, args, nargs, kwnames, values)) return nullptr;
  std::string_view encoding;
  if (!PyUnicode_Check(values[0])) {
    PyErr_Format(PyExc_TypeError, "encoding must be str, not %T", values[0]);
    return nullptr;
  }
  if (!mirtle_py::str_utf8(values[0], encoding)) return nullptr;
  for (const mirtle::Encoding e : {mirtle::Encoding::CP1251, mirtle::Encoding::UTF8})
    if (encoding == mirtle::name(e)) return mirtle_py::new_str(mirtle::header_name(e));
  PyErr_Format(PyExc_ValueError, "encoding must be 'cp1251' or 'utf-8', not %R", values[0]);
  return nullptr;
}

PyObject* statement_date(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  PyObject* values[3] = {};
  if (!mirtle_py::bind_fastcall(kDateSignature, args, nargs, kwnames, values)) return nullptr;
  long parts[3] = {};
  for (int i = 0; i < 3; ++i)
    if (!as_long(values[i], parts[i])) {
      if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return nullptr;
      PyErr_Clear();  // far outside any date
      Py_RETURN_NONE;
    }
  const auto [year, month, day] = parts;
  if (year < INT32_MIN || year > INT32_MAX || month < 1 || month > 12 || day < 1 || day > 31) Py_RETURN_NONE;
  const mirtle::Date date{static_cast<std::int32_t>(year), static_cast<std::uint8_t>(month),
                          static_cast<std::uint8_t>(day)};
  if (!mirtle::is_valid(date)) Py_RETURN_NONE;
  char text[24];
  return mirtle_py::new_str(std::string_view(text, mirtle::format_statement_date(date, text)));
}

bool add_vocabulary_constants(PyObject* module) noexcept {
  return PyModule_Add(module, "ENCODING_KEY", mirtle_py::new_str(mirtle::kEncodingKey)) == 0 &&
         PyModule_Add(module, "MAX_AMOUNT_SCALE", PyLong_FromUnsignedLong(mirtle::kMaxAmountScale)) == 0;
}

}  // namespace mirtle_native
