// A bytes-like argument held for the length of one call.
#pragma once

#include <string_view>

#include "py.hpp"

namespace mirtle_toolkit {

// Holds a simple (contiguous, read-only) buffer of a bytes-like object and
// releases it on every path; the exporter cannot resize it meanwhile, so the
// view may be read with the thread detached.
class Buffer {
 public:
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() {
    if (view_.obj != nullptr) PyBuffer_Release(&view_);
  }

  // False with TypeError (naming `what`) when `obj` is not bytes-like, or
  // with the exporter's own error (a non-contiguous view, say).
  bool acquire(PyObject* obj, const char* what) noexcept {
    if (!PyObject_CheckBuffer(obj)) {
      PyErr_Format(PyExc_TypeError, "%s must be a bytes-like object, not %T", what, obj);
      return false;
    }
    return PyObject_GetBuffer(obj, &view_, PyBUF_SIMPLE) == 0;
  }

  std::string_view text() const noexcept {
    return {static_cast<const char*>(view_.buf), static_cast<std::size_t>(view_.len)};
  }

 private:
  Py_buffer view_{};
};

}  // namespace mirtle_toolkit
