// The binding's one buffer policy: a statement given as any contiguous
// bytes-like object (bytes, bytearray, memoryview, mmap) is read in place,
// never copied.
#pragma once

#include <string_view>

#include "py.hpp"

namespace mirtle_py {

// Holds a simple (contiguous, read-only) buffer of a bytes-like object for
// the length of one call and releases it on every path.  While it is held
// the exporter cannot be resized or closed, so the view may be read with
// the thread detached.
class Buffer {
 public:
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() {
    if (view_.obj != nullptr) PyBuffer_Release(&view_);
  }

  // False with TypeError naming `what` when `obj` is not bytes-like or its
  // buffer is not contiguous (the exporter's BufferError is the cause), or
  // with the exporter's own error (a released memoryview, say).
  bool acquire(PyObject* obj, const char* what) noexcept {
    if (!PyObject_CheckBuffer(obj)) {
      PyErr_Format(PyExc_TypeError, "%s must be a bytes-like object, not %T", what, obj);
      return false;
    }
    if (PyObject_GetBuffer(obj, &view_, PyBUF_SIMPLE) == 0) return true;
    if (PyErr_ExceptionMatches(PyExc_BufferError)) {
      PyObject* cause = PyErr_GetRaisedException();
      PyErr_Format(PyExc_TypeError, "%s must be a contiguous buffer; copy this %T with bytes() first", what, obj);
      PyObject* refusal = PyErr_GetRaisedException();
      PyException_SetCause(refusal, cause);  // steals `cause`
      PyErr_SetRaisedException(refusal);     // steals `refusal`
    }
    return false;
  }

  std::string_view text() const noexcept {
    return {static_cast<const char*>(view_.buf), static_cast<std::size_t>(view_.len)};
  }

 private:
  Py_buffer view_{};
};

}  // namespace mirtle_py
