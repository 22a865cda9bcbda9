// Shared helpers of the binding: the Python headers, an owning reference,
// text conversion, the process-wide once-only slot, and the two wrappers
// every entry goes through: `guarded` (std::bad_alloc becomes MemoryError)
// and `run_core` (the core's work detached from the interpreter).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <exception>
#include <new>
#include <string>
#include <type_traits>
#include <string_view>
#include <utility>

namespace mirtle_py {

// An owned (strong) reference, released on every path.  Adopting a
// reference is always said by name: Ref::steal(new_ref) takes over a new
// reference, Ref::borrow(obj) takes a new one to a borrowed object.
class Ref {
 public:
  Ref() = default;
  [[nodiscard]] static Ref steal(PyObject* owned) noexcept { return Ref(owned); }
  [[nodiscard]] static Ref borrow(PyObject* obj) noexcept { return Ref(Py_XNewRef(obj)); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : obj_(other.release()) {}
  Ref& operator=(Ref&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~Ref() { Py_XDECREF(obj_); }

  PyObject* get() const noexcept { return obj_; }
  explicit operator bool() const noexcept { return obj_ != nullptr; }
  PyObject* release() noexcept { return std::exchange(obj_, nullptr); }
  void reset(PyObject* owned = nullptr) noexcept { Py_XSETREF(obj_, owned); }

 private:
  explicit Ref(PyObject* owned) noexcept : obj_(owned) {}
  PyObject* obj_ = nullptr;
};

// A new str from valid UTF-8 text (the core's texts always are).  Text
// whose characters all lie in the first 64 Ki, some beyond U+00FF (Cyrillic),
// is decoded straight into a str of its final length and kind: the
// interpreter's decoder, which cannot trust its input, starts narrow and
// widens the str, copying it, when it meets the first wider character.
PyObject* new_str(std::string_view text) noexcept;

// The UTF-8 text of a str, or false with the interpreter's error set.
inline bool str_utf8(PyObject* str, std::string_view& out) noexcept {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (data == nullptr) return false;
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

// Adds "while processing '<name>'" to the pending exception.
void add_processing_note(const char* name) noexcept;

// Turns a null result without a pending exception into SystemError.
inline PyObject* internal_error_if_unset() noexcept {
  if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "mirtle_py: internal error");
  return nullptr;
}

// One process-wide object, built at most once.  A thread that finds another
// thread building it parks on the PyMutex, which detaches it from the
// interpreter while it waits.  A failed build leaves the slot empty, so a
// later import may retry.  The object is never released.  `make` returns a
// new reference or nullptr with an exception set, and cannot throw: the
// mutex is held while it runs.
class OnceSlot {
 public:
  constexpr OnceSlot() = default;

  // Returns a borrowed reference, or nullptr with an exception set.
  template <typename Make>
  PyObject* get(Make&& make) noexcept {
    static_assert(std::is_nothrow_invocable_r_v<PyObject*, Make>, "a throwing build would keep the mutex");
    if (PyObject* ready = value_.load(std::memory_order_acquire)) return ready;
    PyMutex_Lock(&mutex_);
    PyObject* obj = value_.load(std::memory_order_relaxed);
    if (obj == nullptr) {
      obj = make();
      if (obj != nullptr) value_.store(obj, std::memory_order_release);
    }
    PyMutex_Unlock(&mutex_);
    return obj;
  }

  // The object if it has been built, else nullptr; sets no exception.
  PyObject* peek() const noexcept { return value_.load(std::memory_order_acquire); }

 private:
  std::atomic<PyObject*> value_{nullptr};
  PyMutex mutex_{};
};

// Releases a heap type instance's memory and its reference to the type.
inline void free_heap_instance(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);
}

// Runs the body of a slot or entry: the one place where std::bad_alloc,
// thrown by the core or by a container on the way, becomes MemoryError.
// The body returns a new reference (or true), or nullptr (false) with an
// exception set; no other C++ exception may leave it.
template <typename Body>
auto guarded(Body&& body) noexcept -> decltype(body()) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return {};
  }
}

// Runs the core's `work`, detached from the interpreter when `detach`:
// other threads run meanwhile, so `work` must touch no Python object and
// leave no Python error (it holds only C++ data and buffers held for the
// call).  Work that calls hooks runs attached.  Whatever `work` throws is
// thrown again once the thread is attached, for `guarded` to report.
template <typename Work>
void run_core(bool detach, Work&& work) {
  if (!detach) return static_cast<void>(work());
  std::exception_ptr failure;
  PyThreadState* thread = PyEval_SaveThread();
  try {
    work();
  } catch (...) {
    failure = std::current_exception();
  }
  PyEval_RestoreThread(thread);
  if (failure) std::rethrow_exception(failure);
}

// A type's __doc__ set to None (a signature-only docstring leaves "").
bool clear_type_doc(PyTypeObject* type) noexcept;

// Puts `value` into the type's dict under `name` (for immutable types,
// before they are published).
bool set_type_attr(PyTypeObject* type, const char* name, PyObject* value) noexcept;

// The slots of both modules: `Exec` fills the module; no GIL is needed;
// and since the type objects are process-wide, they must not reach a second
// interpreter: importing there fails with ImportError instead.
template <int (*Exec)(PyObject*)>
inline PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(Exec)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

// A module without state, its types process-wide.
constexpr PyModuleDef module_definition(const char* name, const char* doc, PyMethodDef* methods,
                                        PyModuleDef_Slot* slots) noexcept {
  return PyModuleDef{.m_base = PyModuleDef_HEAD_INIT, .m_name = name, .m_doc = doc, .m_size = 0,
                     .m_methods = methods, .m_slots = slots, .m_traverse = nullptr, .m_clear = nullptr,
                     .m_free = nullptr};
}

}  // namespace mirtle_py
