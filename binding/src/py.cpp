#include "py.hpp"

#include <cstdint>

namespace mirtle_py {

namespace {

// What a str of valid UTF-8 text needs: its length in characters, and
// whether it fits two bytes a character and needs them.
struct TextShape {
  std::size_t characters = 0;
  bool two_byte_kind = false;
};

TextShape shape_of(const unsigned char* p, std::size_t n) noexcept {
  std::size_t continuations = 0;
  unsigned char widest = 0;  // the largest lead byte
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char c = p[i];
    continuations += (c & 0xC0) == 0x80 ? 1 : 0;
    widest = c > widest ? c : widest;
  }
  // Leads 0xC4..0xEF start the characters U+0100..U+FFFF; 0xF0 and above,
  // those past U+FFFF.
  return {n - continuations, widest >= 0xC4 && widest < 0xF0};
}

// Decodes UTF-8 of characters below U+10000 into two-byte units.
void decode_two_byte(const unsigned char* p, const unsigned char* end, Py_UCS2* out) noexcept {
  while (p < end) {
    const unsigned char c = *p;
    if (c < 0x80) {
      *out++ = c;
      p += 1;
    } else if (c < 0xE0) {
      *out++ = static_cast<Py_UCS2>((c & 0x1F) << 6 | (p[1] & 0x3F));
      p += 2;
    } else {
      *out++ = static_cast<Py_UCS2>((c & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
      p += 3;
    }
  }
}

}  // namespace

PyObject* new_str(std::string_view text) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const TextShape shape = shape_of(p, text.size());
  if (!shape.two_byte_kind)
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
  PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(shape.characters), 0xFFFF);
  if (str == nullptr) return nullptr;
  decode_two_byte(p, p + text.size(), PyUnicode_2BYTE_DATA(str));
  return str;
}

void add_processing_note(const char* name) noexcept {
  PyObject* exc = PyErr_GetRaisedException();
  if (exc == nullptr) return;
  PyObject* note = PyUnicode_FromFormat("while processing '%s'", name);
  if (note != nullptr) {
    PyObject* done = PyObject_CallMethod(exc, "add_note", "O", note);
    Py_DECREF(note);
    if (done == nullptr) PyErr_Clear();  // keep the original error
    Py_XDECREF(done);
  } else {
    PyErr_Clear();
  }
  PyErr_SetRaisedException(exc);
}

bool set_type_attr(PyTypeObject* type, const char* name, PyObject* value) noexcept {
  PyObject* dict = PyType_GetDict(type);
  if (dict == nullptr) return false;
  const int rc = PyDict_SetItemString(dict, name, value);
  Py_DECREF(dict);
  if (rc < 0) return false;
  PyType_Modified(type);
  return true;
}

bool clear_type_doc(PyTypeObject* type) noexcept { return set_type_attr(type, "__doc__", Py_None); }

}  // namespace mirtle_py
