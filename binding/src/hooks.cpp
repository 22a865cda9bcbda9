#include "hooks.hpp"

#include <algorithm>
#include <optional>
#include <new>
#include <string>

#include "mirtle/document_keys.hpp"
#include "results.hpp"
#include "to_python.hpp"

namespace mirtle_py {
namespace {

// A reported length only sizes the first allocation; iteration decides.
constexpr Py_ssize_t kMaxHooksHint = 1024;

bool collect_items(PyObject* hooks, HookObjects& objects, std::vector<PythonHook>& out) {
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
    out.emplace_back(std::move(owned), objects);  // released by `owned` if this throws
  }
}

// Clears the pending error.  Running out of memory while a hook's failure
// is described becomes std::bad_alloc, which the adapter reports as a bare
// MemoryError rather than a description with parts missing.
void clear_error() {
  const bool out_of_memory = PyErr_ExceptionMatches(PyExc_MemoryError);
  PyErr_Clear();
  if (out_of_memory) throw std::bad_alloc();
}

// The UTF-8 text of a str; lone surrogates, which have none, become one
// U+FFFD per byte of their surrogate-passing encoding.
std::string lenient_utf8(PyObject* str) {
  std::string_view text;
  if (str_utf8(str, text)) return std::string(text);
  clear_error();
  const Ref bytes = Ref::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
  if (bytes) {
    const Ref repaired = Ref::steal(
        PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.get()), PyBytes_GET_SIZE(bytes.get()), "replace"));
    if (repaired && str_utf8(repaired.get(), text)) return std::string(text);
  }
  clear_error();
  return "<unrepresentable text>";
}

// "QualName: str(e)" for the pending exception, which this clears.
std::string describe_pending_exception() {
  const Ref exc = Ref::steal(PyErr_GetRaisedException());
  if (!exc) return "<unknown exception>";
  const Ref qualname = Ref::steal(PyType_GetQualName(Py_TYPE(exc.get())));
  if (!qualname) clear_error();
  const Ref text = Ref::steal(PyObject_Str(exc.get()));
  if (!text) clear_error();
  std::string message = qualname ? lenient_utf8(qualname.get()) : "<unknown exception>";
  message += ": ";
  message += text ? lenient_utf8(text.get()) : "<exception str() failed>";
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

// The texts of the dict's items, read from the section wherever an item
// still holds the very objects made from it: those need no encoding.  The
// items were handed in the section's order, and a hook mostly changes a
// value or two, drops a key or adds one at the end, so the item handed at
// the place after the last one found is looked at first.
class HandedTexts {
 public:
  HandedTexts(std::span<const mirtle::AttributeView> attrs, std::span<const Ref> handed) noexcept
      : attrs_(attrs), handed_(handed) {}

  bool key_text(PyObject* key, std::string_view& out) {
    place_ = find(key);
    if (place_ < attrs_.size()) {
      out = attrs_[place_].key;
      return true;
    }
    other_keys_ = true;
    return item_text(key, "keys", out);
  }
  // Whether a key was not one handed: its text may be another key's.
  bool other_keys() const noexcept { return other_keys_; }
  // The value of the key key_text() was last given.
  bool value_text(PyObject* value, std::string_view& out) {
    if (place_ < attrs_.size() && value == handed_[2 * place_ + 1].get()) {
      out = attrs_[place_].value;
      ++next_;
      return true;
    }
    if (place_ < attrs_.size()) ++next_;
    return item_text(value, "values", out);
  }

 private:
  // The place of the key handed as `key`, or attrs_.size().
  std::size_t find(PyObject* key) noexcept {
    for (std::size_t i = next_; i < attrs_.size(); ++i)
      if (handed_[2 * i].get() == key) return next_ = i;
    return attrs_.size();
  }

  std::span<const mirtle::AttributeView> attrs_;
  std::span<const Ref> handed_;
  std::size_t next_ = 0;   // where the next key is looked for first
  std::size_t place_ = 0;  // the last key's place, or attrs_.size()
  bool other_keys_ = false;
};

// The section as the hook's dict has it, in its order, in `out`, by way of
// `scratch`: the texts of `attrs` may lie in `out` itself.  The items are
// read from a private copy: the hook may have handed its dict to another
// thread, and no C++ code runs inside a lock on the shared one.
mirtle::HookOutcome write_back(PyObject* dict, std::span<const mirtle::AttributeView> attrs,
                               std::span<const Ref> handed, mirtle::AttributeMap& scratch,
                               mirtle::AttributeMap& out) {
  const Ref copy = Ref::steal(PyDict_Copy(dict));
  if (!copy) return failure_from_pending();
  std::vector<mirtle::AttributeView> items;
  items.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(copy.get())));
  HandedTexts texts(attrs, handed);
  Py_ssize_t pos = 0;
  PyObject *key, *value;  // borrowed from the copy, which nothing else can reach
  while (PyDict_Next(copy.get(), &pos, &key, &value)) {
    std::string_view key_text, value_text;
    if (!texts.key_text(key, key_text) || !texts.value_text(value, value_text)) return failure_from_pending();
    items.push_back({key_text, value_text});
  }
  if (!texts.other_keys()) {
    scratch.assign(items);  // the keys handed have distinct texts
  } else {
    // Two keys of a dict may have one text (a str subclass equal only to
    // itself): the later one's value replaces the earlier one's, in place.
    scratch.clear();
    for (const mirtle::AttributeView& item : items) scratch.set(item.key, item.value);
  }
  std::swap(scratch, out);
  return mirtle::HookOutcome::ok();
}

// Whether the dict still holds exactly the key and value objects it was
// handed, in their order: then the section's attributes stand as they are,
// with no text read back.  The objects are held, so none can have been
// freed and its address taken by another.
bool left_alone(PyObject* dict, std::span<const Ref> handed) noexcept {
  bool same = PyDict_GET_SIZE(dict) == static_cast<Py_ssize_t>(handed.size() / 2);
  Py_BEGIN_CRITICAL_SECTION(dict);
  Py_ssize_t pos = 0;
  PyObject *key, *value;
  for (std::size_t i = 0; same && PyDict_Next(dict, &pos, &key, &value); i += 2)
    same = i + 1 < handed.size() && key == handed[i].get() && value == handed[i + 1].get();
  Py_END_CRITICAL_SECTION();
  return same;
}

// Whether two dicts hold the very same key and value objects, in order.
bool same_items(PyObject* a, PyObject* b) noexcept {
  if (PyDict_GET_SIZE(a) != PyDict_GET_SIZE(b)) return false;
  Py_ssize_t pos_a = 0, pos_b = 0;
  PyObject *key_a, *value_a, *key_b, *value_b;
  while (PyDict_Next(a, &pos_a, &key_a, &value_a)) {
    if (!PyDict_Next(b, &pos_b, &key_b, &value_b) || key_a != key_b || value_a != value_b) return false;
  }
  return true;
}

// The section's dict, its keys and values also kept in `handed`, in order.
PyObject* section_dict(std::span<const mirtle::AttributeView> attrs, HookObjects& objects, std::vector<Ref>& handed) {
  Ref dict = Ref::steal(PyDict_New());
  if (!dict) return nullptr;
  handed.reserve(attrs.size() * 2);
  objects.start_section();
  for (const auto& [key, value] : attrs) {
    Ref k = Ref::steal(objects.key(key));
    if (!k) return nullptr;
    Ref v = Ref::steal(new_str(value));
    if (!v || PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) return nullptr;
    handed.push_back(std::move(k));
    handed.push_back(std::move(v));
  }
  return dict.release();
}

// Calls the hook with the section `attrs`; when its dict comes back changed,
// the section as it is then goes to `changed_attrs` and `changed` is set.
mirtle::HookOutcome call_hook(PyObject* callable, HookObjects& objects, mirtle::SectionType type,
                              std::span<const mirtle::AttributeView> attrs, const mirtle::AttributeMap& header,
                              mirtle::AttributeMap& changed_attrs, bool& changed) {
  // Emptied on every way out: the objects go with the call.
  struct Emptied {
    std::vector<Ref>& refs;
    ~Emptied() { refs.clear(); }
  } handed{objects.handed()};
  Ref attrs_dict = Ref::steal(section_dict(attrs, objects, handed.refs));
  if (!attrs_dict) return failure_from_pending();
  Ref header_dict = Ref::steal(objects.header(header));
  if (!header_dict) return failure_from_pending();
  PyObject* section_type = section_type_value(type);  // borrowed
  if (section_type == nullptr) return failure_from_pending();

  // The slot before the arguments lets the callee prepend `self` in place.
  PyObject* args[4] = {nullptr, section_type, attrs_dict.get(), header_dict.get()};
  const Ref result =
      Ref::steal(PyObject_Vectorcall(callable, args + 1, 3 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
  if (!result) return failure_from_pending();
  if (left_alone(attrs_dict.get(), handed.refs)) return mirtle::HookOutcome::ok();
  changed = true;
  return write_back(attrs_dict.get(), attrs, handed.refs, objects.scratch(), changed_attrs);
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
  try {
    std::vector<mirtle::AttributeView> views;
    views.reserve(attrs.size());
    for (const auto& [key, value] : attrs.entries()) views.push_back({key, value});
    bool changed = false;
    return on_section_views(type, views, header, attrs, changed);
  } catch (...) {
    return mirtle::HookOutcome::failure("MemoryError: ");  // only std::bad_alloc gets here
  }
}

// `changed_attrs` may be the map `attrs` views: it is written only after the
// dict has been made and the hook called.
mirtle::HookOutcome PythonHook::on_section_views(mirtle::SectionType type, std::span<const mirtle::AttributeView> attrs,
                                                 const mirtle::AttributeMap& header, mirtle::AttributeMap& changed_attrs,
                                                 bool& changed) noexcept {
  const AttachedThread thread;
  // A hook that parses with itself recurses through C frames: stop it with
  // RecursionError before the C stack runs out.
  const bool entered = Py_EnterRecursiveCall(" in a statement hook") == 0;
  try {
    mirtle::HookOutcome outcome = entered ? call_hook(callable_.get(), *objects_, type, attrs, header,
                                                      changed_attrs, changed)
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

PyObject* HookObjects::key(std::string_view key) noexcept {
  std::optional<mirtle::DocField> field = follows_[last_];
  if (!mirtle::document_keys::is_key_of(key, *field)) {
    field = mirtle::document_keys::find(key);
    if (field) follows_[last_] = *field;
  }
  if (field) {
    last_ = static_cast<std::size_t>(*field);
    Ref& cached = document_keys_[last_];
    if (!cached) cached = Ref::steal(new_str(key));
    return Py_XNewRef(cached.get());
  }
  for (const auto& [text, str] : other_keys_)
    if (text == key) return Py_NewRef(str.get());
  Ref str = Ref::steal(new_str(key));
  if (str && other_keys_.size() < kOtherKeys) {
    try {
      other_keys_.emplace_back(std::string(key), Ref::borrow(str.get()));
    } catch (const std::bad_alloc&) {
      // Not kept: made again next time.
    }
  }
  return str.release();
}

PyObject* HookObjects::header(const mirtle::AttributeMap& header) noexcept {
  if (!header_) header_ = Ref::steal(dict_from(header));
  if (!header_) return nullptr;
  // Held by nobody else, no other thread can be changing it.
  if (!handed_header_ || !PyUnstable_Object_IsUniquelyReferenced(handed_header_.get()) ||
      !same_items(handed_header_.get(), header_.get())) {
    handed_header_ = Ref::steal(PyDict_Copy(header_.get()));
    if (!handed_header_) return nullptr;
  }
  return Py_NewRef(handed_header_.get());
}

bool HookList::collect(PyObject* hooks) {
  if (hooks == nullptr || hooks == Py_None) return true;
  objects_ = std::make_unique<HookObjects>();
  if (!collect_items(hooks, *objects_, hooks_)) {
    add_processing_note("hooks");
    return false;
  }
  pointers_.reserve(hooks_.size());
  for (PythonHook& hook : hooks_) pointers_.push_back(&hook);
  return true;
}

}  // namespace mirtle_py
