#include "hooks.hpp"

#include <string>
#include <vector>

#include "convert.hpp"
#include "results.hpp"

namespace mirtle_py {
namespace {

// The UTF-8 text of a str; lone surrogates, which have none, become one
// U+FFFD per byte of their surrogate-passing encoding.
std::string lenient_utf8(PyObject* str) {
  std::string_view text;
  if (str_utf8(str, text)) return std::string(text);
  PyErr_Clear();
  Ref bytes = Ref::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
  if (bytes) {
    Ref repaired = Ref::steal(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.get()), PyBytes_GET_SIZE(bytes.get()),
                                      "replace"));
    if (repaired && str_utf8(repaired.get(), text)) return std::string(text);
  }
  PyErr_Clear();
  return "<unrepresentable text>";
}

// "QualName: str(e)" for the pending exception, which this clears.
std::string describe_pending_exception() {
  Ref exc = Ref::steal(PyErr_GetRaisedException());
  std::string message = "<unknown exception>";
  if (!exc) return message;
  Ref qualname = Ref::steal(PyType_GetQualName(Py_TYPE(exc.get())));
  if (qualname) {
    message = lenient_utf8(qualname.get());
  } else {
    PyErr_Clear();
  }
  message += ": ";
  Ref text = Ref::steal(PyObject_Str(exc.get()));
  if (text) {
    message += lenient_utf8(text.get());
  } else {
    PyErr_Clear();
    message += "<exception str() failed>";
  }
  return message;
}

mirtle::HookOutcome failure_from_pending() {
  return mirtle::HookOutcome::failure(describe_pending_exception());
}

// The text of an attrs key or value after the hook returned.
bool item_text(PyObject* item, const char* what, std::string_view& out) {
  if (!PyUnicode_Check(item)) {
    PyErr_Format(PyExc_TypeError, "attrs %s must be str, not %T", what, item);
    return false;
  }
  return str_utf8(item, out);
}

// Holds strong references to the items of a dict, taken in one pass.
class DictSnapshot {
 public:
  explicit DictSnapshot(PyObject* dict) {
    Py_BEGIN_CRITICAL_SECTION(dict);
    items_.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(dict)) * 2);
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(dict, &pos, &key, &value)) {
      items_.push_back(Py_NewRef(key));
      items_.push_back(Py_NewRef(value));
    }
    Py_END_CRITICAL_SECTION();
  }
  DictSnapshot(const DictSnapshot&) = delete;
  DictSnapshot& operator=(const DictSnapshot&) = delete;
  ~DictSnapshot() {
    for (PyObject* item : items_) Py_DECREF(item);
  }
  std::size_t pairs() const noexcept { return items_.size() / 2; }
  PyObject* key(std::size_t i) const noexcept { return items_[2 * i]; }
  PyObject* value(std::size_t i) const noexcept { return items_[2 * i + 1]; }

 private:
  std::vector<PyObject*> items_;
};

// Replaces the section's attributes with the hook's dict, in its order.
mirtle::HookOutcome write_back(PyObject* dict, mirtle::AttributeMap& attrs) {
  const DictSnapshot snapshot(dict);
  attrs.clear();
  for (std::size_t i = 0; i < snapshot.pairs(); ++i) {
    std::string_view key, value;
    if (!item_text(snapshot.key(i), "keys", key) || !item_text(snapshot.value(i), "values", value))
      return failure_from_pending();
    attrs.set(key, value);  // copies both texts
  }
  return mirtle::HookOutcome::ok();
}

mirtle::HookOutcome call_hook(PyObject* callable, mirtle::SectionType type, mirtle::AttributeMap& attrs,
                              const mirtle::AttributeMap& header) {
  Ref attrs_dict = Ref::steal(dict_from(attrs));
  if (!attrs_dict) return failure_from_pending();
  Ref header_dict = Ref::steal(dict_from(header));
  if (!header_dict) return failure_from_pending();
  PyObject* section = section_type_value(type);
  if (section == nullptr) return failure_from_pending();

  // The slot before the arguments lets the callee prepend `self` in place.
  PyObject* args[4] = {nullptr, section, attrs_dict.get(), header_dict.get()};
  Ref result = Ref::steal(PyObject_Vectorcall(callable, args + 1, 3 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
  if (!result) return failure_from_pending();
  return write_back(attrs_dict.get(), attrs);
}

// Ensures an attached thread for the call (the parse entry always has one).
class AttachedThread {
 public:
  AttachedThread() : attached_(PyThreadState_GetUnchecked() != nullptr) {
    if (!attached_) state_ = PyGILState_Ensure();
  }
  ~AttachedThread() {
    if (!attached_) PyGILState_Release(state_);
  }
  AttachedThread(const AttachedThread&) = delete;
  AttachedThread& operator=(const AttachedThread&) = delete;

 private:
  bool attached_;
  PyGILState_STATE state_{};
};

}  // namespace

mirtle::HookOutcome PythonHook::on_section(mirtle::SectionType type, mirtle::AttributeMap& attrs,
                                           const mirtle::AttributeMap& header) noexcept {
  const AttachedThread thread;
  // A hook that parses with itself recurses through C frames: stop it with
  // RecursionError before the C stack runs out.
  const bool entered = Py_EnterRecursiveCall(" in a statement hook") == 0;
  try {
    mirtle::HookOutcome outcome = entered ? call_hook(callable_.get(), type, attrs, header)
                                          : failure_from_pending();
    if (entered) Py_LeaveRecursiveCall();
    return outcome;
  } catch (...) {
    // Only std::bad_alloc gets here.  The message is what a bare
    // MemoryError gives, short enough to need no allocation.
    PyErr_Clear();
    if (entered) Py_LeaveRecursiveCall();
    return mirtle::HookOutcome::failure("MemoryError: ");
  }
}

}  // namespace mirtle_py
