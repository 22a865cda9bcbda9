#include "results.hpp"

#include <array>
#include <charconv>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <type_traits>

#include "mirtle/quote.hpp"
#include "mirtle/values.hpp"
#include "mirtle/vocabulary.hpp"

namespace mirtle_py {
namespace {

using mirtle::DocField;

// --- shared pieces ----------------------------------------------------------

PyObject* ascii_str(const char* text, std::size_t length) noexcept {
  PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(length), 127);
  if (str != nullptr) std::memcpy(PyUnicode_DATA(str), text, length);
  return str;
}

PyObject* date_str(const mirtle::Date& date) noexcept {
  char buffer[16];
  return ascii_str(buffer, mirtle::format_date(date, buffer));
}

PyObject* amount_str(const mirtle::Decimal& amount) noexcept {
  char buffer[32];
  return ascii_str(buffer, mirtle::format_amount(amount, buffer));
}

template <typename T, typename Format>
PyObject* optional_str(const std::optional<T>& value, Format format) noexcept {
  if (!value) Py_RETURN_NONE;
  return format(*value);
}

// Allocates a plain (non-GC) instance of one of our heap types without the
// zero fill of tp_alloc, which would be wasted: the record is constructed
// over the memory at once.
//
// An object type that sets `kCHeap` is allocated from the C heap
// (PyMem_RawMalloc, freed by its type's tp_free) instead of the object
// allocator; see DocumentObject.
template <typename Object>
Object* alloc_plain(PyTypeObject* type) noexcept {
  if (type == nullptr) return nullptr;
  void* memory;
  if constexpr (requires { Object::kCHeap; })
    memory = PyMem_RawMalloc(sizeof(Object));
  else
    memory = PyObject_Malloc(sizeof(Object));
  if (memory == nullptr) {
    PyErr_NoMemory();
    return nullptr;
  }
  PyObject_Init(static_cast<PyObject*>(memory), type);  // takes a type reference
  return static_cast<Object*>(memory);
}

template <typename Object>
void destroy_plain(PyObject* self) {
  std::destroy_at(&reinterpret_cast<Object*>(self)->record);
  free_heap_instance(self);
}

void append_optional(std::string& out, const std::string* text) {
  if (text == nullptr) {
    out += "None";
    return;
  }
  out += "Some(";
  mirtle::append_quoted(out, *text);
  out += ')';
}

void append_count(std::string& out, std::size_t count) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, count).ptr);
}

template <typename Build>
PyObject* repr_of(Build build) noexcept {
  return guarded([&] {
    std::string out;
    build(out);
    return new_str(out);
  });
}

// Equality of two records of the same class; other pairs are not ours.
template <typename Object, typename Same>
PyObject* compare_records(PyObject* a, PyObject* b, int op, Same same) noexcept {
  if (Py_TYPE(a) != Py_TYPE(b) || (op != Py_EQ && op != Py_NE)) Py_RETURN_NOTIMPLEMENTED;
  const bool equal = same(*reinterpret_cast<Object*>(a), *reinterpret_cast<Object*>(b));
  return PyBool_FromLong((op == Py_EQ) == equal);
}

// Creates a type from its spec and sets its __doc__ to None unless it has one.
PyObject* create_type(PyType_Spec* spec, bool keep_doc) noexcept {
  PyObject* type = PyType_FromSpec(spec);
  if (type == nullptr) return nullptr;
  if (!keep_doc && !clear_type_doc(reinterpret_cast<PyTypeObject*>(type))) {
    Py_DECREF(type);
    return nullptr;
  }
  return type;
}

constexpr unsigned long kResultFlags =
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE;

// --- Interval ----------------------------------------------------------------

struct IntervalObject {
  PyObject_HEAD
  mirtle::Interval record;
};

PyObject* interval_get(PyObject* self, void* closure) {
  using mirtle::IntervalField;
  const mirtle::Interval& r = reinterpret_cast<IntervalObject*>(self)->record;
  switch (static_cast<const mirtle::IntervalAttribute*>(closure)->field) {
    case IntervalField::DateStart: return date_str(r.date_start);
    case IntervalField::DateEnd: return optional_str(r.date_end, date_str);
    case IntervalField::StartAmount: return amount_str(r.start_amount);
    case IntervalField::EndAmount: return optional_str(r.end_amount, amount_str);
    case IntervalField::TotalIncome: return optional_str(r.total_income, amount_str);
    case IntervalField::TotalExpense: return optional_str(r.total_expense, amount_str);
  }
  return internal_error_if_unset();
}

// The six attributes in the vocabulary's order, which the class shows.
constexpr auto make_interval_getset() {
  std::array<PyGetSetDef, mirtle::kIntervalFieldCount + 1> table{};
  for (std::size_t i = 0; i < mirtle::kIntervalAttributes.size(); ++i) {
    const mirtle::IntervalAttribute& attribute = mirtle::kIntervalAttributes[i];
    table[i] = {attribute.name.data(), interval_get, nullptr, nullptr,
                const_cast<mirtle::IntervalAttribute*>(&attribute)};
  }
  return table;
}
std::array<PyGetSetDef, mirtle::kIntervalFieldCount + 1> interval_getset = make_interval_getset();

PyObject* interval_repr(PyObject* self) {
  const mirtle::Interval& r = reinterpret_cast<IntervalObject*>(self)->record;
  return repr_of([&](std::string& out) {
    out += "Interval(date_start=";
    mirtle::append_quoted(out, mirtle::format_date(r.date_start));
    out += ", date_end=";
    const std::optional<std::string> end = r.date_end ? std::optional(mirtle::format_date(*r.date_end)) : std::nullopt;
    append_optional(out, end ? &*end : nullptr);
    out += ", start_amount=";
    mirtle::append_quoted(out, mirtle::format_amount(r.start_amount));
    out += ", end_amount=";
    const std::optional<std::string> amount =
        r.end_amount ? std::optional(mirtle::format_amount(*r.end_amount)) : std::nullopt;
    append_optional(out, amount ? &*amount : nullptr);
    out += ')';
  });
}

PyObject* interval_compare(PyObject* a, PyObject* b, int op) {
  return compare_records<IntervalObject>(a, b, op, [](const IntervalObject& x, const IntervalObject& y) {
    return x.record == y.record;
  });
}

PyType_Slot interval_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(destroy_plain<IntervalObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(interval_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(interval_compare)},
    {Py_tp_getset, interval_getset.data()},
    {0, nullptr},
};
PyType_Spec interval_spec = {"builtins.Interval", sizeof(IntervalObject), 0, kResultFlags,
                             interval_slots};

// The records are placed into freshly allocated objects: nothing may throw
// between the allocation and the return of the new reference.
static_assert(std::is_nothrow_copy_constructible_v<mirtle::Interval>);
static_assert(std::is_nothrow_move_constructible_v<mirtle::Account>);
static_assert(std::is_nothrow_move_constructible_v<mirtle::Document>);

PyObject* new_interval(const mirtle::Interval& record) noexcept {
  auto* self = alloc_plain<IntervalObject>(interval_type());
  if (self == nullptr) return nullptr;
  new (&self->record) mirtle::Interval(record);
  return reinterpret_cast<PyObject*>(self);
}

// --- Account -------------------------------------------------------------------

struct AccountObject {
  PyObject_HEAD
  mirtle::Account record;
};

PyObject* account_number(PyObject* self, void*) {
  return new_str(reinterpret_cast<AccountObject*>(self)->record.number);
}

PyObject* account_intervals(PyObject* self, void*) {
  const auto& intervals = reinterpret_cast<AccountObject*>(self)->record.intervals;
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(intervals.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < intervals.size(); ++i) {
    PyObject* item = new_interval(intervals[i]);
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

PyGetSetDef account_getset[] = {
    {"number", account_number, nullptr, nullptr, nullptr},
    {"intervals", account_intervals, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* account_repr(PyObject* self) {
  const mirtle::Account& r = reinterpret_cast<AccountObject*>(self)->record;
  return repr_of([&](std::string& out) {
    out += "Account(number=";
    mirtle::append_quoted(out, r.number);
    out += ", intervals=[...";
    append_count(out, r.intervals.size());
    out += "])";
  });
}

PyObject* account_compare(PyObject* a, PyObject* b, int op) {
  return compare_records<AccountObject>(a, b, op, [](const AccountObject& x, const AccountObject& y) {
    return x.record == y.record;
  });
}

PyType_Slot account_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(destroy_plain<AccountObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(account_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(account_compare)},
    {Py_tp_getset, account_getset},
    {0, nullptr},
};
PyType_Spec account_spec = {"builtins.Account", sizeof(AccountObject), 0, kResultFlags,
                            account_slots};

// --- Document ------------------------------------------------------------------

// Documents come from the C heap: the object allocator gives its arenas
// back as a statement goes, and the next one pays for fresh pages again
// (bench/README.md).
struct DocumentObject {
  static constexpr bool kCHeap = true;
  PyObject_HEAD
  mirtle::Document record;
};


PyObject* document_get(PyObject* self, void* closure) {
  const mirtle::Document& r = reinterpret_cast<DocumentObject*>(self)->record;
  const auto& attribute = *static_cast<const mirtle::DocAttribute*>(closure);
  switch (attribute.field) {
    case DocField::Date: return date_str(r.doc_date);
    case DocField::Amount: return amount_str(r.amount);
    case DocField::OutcomeDate: return optional_str(r.outcome_date, date_str);
    case DocField::IncomeDate: return optional_str(r.income_date, date_str);
    default: {
      const std::optional<std::string_view> text = r.text(attribute.field);
      if (!text) Py_RETURN_NONE;
      return new_str(*text);
    }
  }
}

constexpr auto make_document_getset() {
  std::array<PyGetSetDef, mirtle::kDocFieldCount + 1> table{};
  // The class's attribute order, which differs from the record's.
  for (std::size_t i = 0; i < mirtle::kDocumentAttributes.size(); ++i) {
    const mirtle::DocAttribute& attribute = mirtle::kDocumentAttributes[i];
    table[i] = {attribute.name.data(), document_get, nullptr, nullptr, const_cast<mirtle::DocAttribute*>(&attribute)};
  }
  return table;
}
std::array<PyGetSetDef, mirtle::kDocFieldCount + 1> document_getset = make_document_getset();

PyObject* document_repr(PyObject* self) {
  const mirtle::Document& r = reinterpret_cast<DocumentObject*>(self)->record;
  return repr_of([&](std::string& out) {
    out += "Document(doc_number=";
    mirtle::append_quoted(out, r.text(DocField::Number).value_or(""));
    out += ", doc_type=";
    mirtle::append_quoted(out, r.text(DocField::Type).value_or(""));
    out += ", doc_date=";
    mirtle::append_quoted(out, mirtle::format_date(r.doc_date));
    out += ", amount=";
    mirtle::append_quoted(out, mirtle::format_amount(r.amount));
    out += ')';
  });
}

PyObject* document_compare(PyObject* a, PyObject* b, int op) {
  return compare_records<DocumentObject>(a, b, op, [](const DocumentObject& x, const DocumentObject& y) {
    return x.record == y.record;
  });
}

PyType_Slot document_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(destroy_plain<DocumentObject>)},
    {Py_tp_free, reinterpret_cast<void*>(PyMem_RawFree)},
    {Py_tp_repr, reinterpret_cast<void*>(document_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(document_compare)},
    {Py_tp_getset, document_getset.data()},
    {0, nullptr},
};
PyType_Spec document_spec = {"builtins.Document", sizeof(DocumentObject), 0, kResultFlags,
                             document_slots};

// --- Statement -------------------------------------------------------------------

struct StatementObject {
  PyObject_HEAD
  mirtle::Encoding encoding;
  PyObject* header;  // the four containers: strong references, nullptr once cleared
  PyObject* accounts;
  PyObject* documents;
  PyObject* warnings;
  Py_ssize_t document_count;  // as built, whatever later happens to the lists
  Py_ssize_t warning_count;
};

StatementObject* as_statement(PyObject* self) { return reinterpret_cast<StatementObject*>(self); }

PyObject* statement_encoding(PyObject* self, void*) { return new_str(mirtle::name(as_statement(self)->encoding)); }

struct StatementMember {
  const char* name;
  PyObject* StatementObject::*slot;
};

constexpr std::array<StatementMember, 4> kStatementMembers = {{
    {"header", &StatementObject::header},
    {"accounts", &StatementObject::accounts},
    {"documents", &StatementObject::documents},
    {"warnings", &StatementObject::warnings},
}};

// The stored containers: every read returns the same object.  Once the
// garbage collector has cleared a statement (Python code running in the
// same collection can still reach it) they are gone, and reading one fails
// as a cleared object member does in the interpreter's own types.
PyObject* statement_member(PyObject* self, void* closure) {
  const auto& member = *static_cast<const StatementMember*>(closure);
  PyObject* value = as_statement(self)->*member.slot;
  if (value == nullptr) {
    PyErr_Format(PyExc_AttributeError, "'%T' object has no attribute '%s'", self, member.name);
    return nullptr;
  }
  return Py_NewRef(value);
}

#define MIRTLE_STATEMENT_MEMBER(index)                                             \
  {kStatementMembers[index].name, statement_member, nullptr, nullptr,              \
   const_cast<StatementMember*>(&kStatementMembers[index])}

PyGetSetDef statement_getset[] = {
    {"encoding", statement_encoding, nullptr, nullptr, nullptr},
    MIRTLE_STATEMENT_MEMBER(0),
    MIRTLE_STATEMENT_MEMBER(1),
    MIRTLE_STATEMENT_MEMBER(2),
    MIRTLE_STATEMENT_MEMBER(3),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* statement_repr(PyObject* self) {
  const StatementObject& s = *as_statement(self);
  const std::string_view encoding = mirtle::name(s.encoding);
  return PyUnicode_FromFormat("Statement(encoding=\"%.*s\", documents=[...%zd], warnings=[...%zd])",
                              static_cast<int>(encoding.size()), encoding.data(), s.document_count,
                              s.warning_count);
}

int statement_traverse(PyObject* self, visitproc visit, void* arg) {
  const StatementObject& s = *as_statement(self);
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(s.header);
  Py_VISIT(s.accounts);
  Py_VISIT(s.documents);
  Py_VISIT(s.warnings);
  return 0;
}

int statement_clear(PyObject* self) {
  StatementObject& s = *as_statement(self);
  Py_CLEAR(s.header);
  Py_CLEAR(s.accounts);
  Py_CLEAR(s.documents);
  Py_CLEAR(s.warnings);
  return 0;
}

void statement_dealloc(PyObject* self) {
  PyObject_GC_UnTrack(self);
  statement_clear(self);
  free_heap_instance(self);
}

PyType_Slot statement_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(statement_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(statement_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(statement_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(statement_repr)},
    {Py_tp_getset, statement_getset},
    {0, nullptr},
};
PyType_Spec statement_spec = {"builtins.Statement", sizeof(StatementObject), 0,
                              kResultFlags | Py_TPFLAGS_HAVE_GC, statement_slots};

// --- SectionType -------------------------------------------------------------------

struct SectionTypeObject {
  PyObject_HEAD
  std::uint8_t value;
};

mirtle::SectionType section_type_of(PyObject* self) {
  return static_cast<mirtle::SectionType>(reinterpret_cast<SectionTypeObject*>(self)->value);
}

PyObject* section_type_repr(PyObject* self) {
  const std::string_view name = mirtle::name(section_type_of(self));
  return PyUnicode_FromFormat("SectionType.%.*s", static_cast<int>(name.size()), name.data());
}

PyObject* section_type_int(PyObject* self) { return PyLong_FromLong(static_cast<long>(section_type_of(self))); }

PyObject* section_type_compare(PyObject* a, PyObject* b, int op) {
  if (Py_TYPE(a) != Py_TYPE(b) || (op != Py_EQ && op != Py_NE)) Py_RETURN_NOTIMPLEMENTED;
  return PyBool_FromLong((op == Py_EQ) == (section_type_of(a) == section_type_of(b)));
}

PyType_Slot section_type_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(free_heap_instance)},
    {Py_tp_repr, reinterpret_cast<void*>(section_type_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(section_type_compare)},
    {Py_nb_int, reinterpret_cast<void*>(section_type_int)},
    {Py_tp_doc, const_cast<char*>("Тип секции выписки для использования в hooks.")},
    {0, nullptr},
};
PyType_Spec section_type_spec = {"mirtle_py.SectionType", sizeof(SectionTypeObject), 0, kResultFlags,
                                 section_type_slots};

// Written once, just before the SectionType type is published; each holds
// a strong reference that is never released.  Indexed by mirtle::SectionType.
constinit std::array<std::atomic<PyObject*>, 2> section_type_values{};

// The type and both of its values, all complete before anyone sees them.
// A failure anywhere publishes nothing, so a later import starts afresh.
PyObject* create_section_type() noexcept {
  Ref type = Ref::steal(create_type(&section_type_spec, true));
  if (!type) return nullptr;
  auto* tp = reinterpret_cast<PyTypeObject*>(type.get());
  std::array<Ref, 2> values;
  for (std::uint8_t value = 0; value < 2; ++value) {
    auto* obj = alloc_plain<SectionTypeObject>(tp);
    if (obj == nullptr) return nullptr;
    obj->value = value;
    values[value] = Ref::steal(reinterpret_cast<PyObject*>(obj));
    // Both names are NUL-terminated literals of the vocabulary.
    if (!set_type_attr(tp, mirtle::name(static_cast<mirtle::SectionType>(value)).data(), values[value].get()))
      return nullptr;
  }
  for (std::uint8_t value = 0; value < 2; ++value)
    section_type_values[value].store(values[value].release(), std::memory_order_relaxed);
  return type.release();
}

constinit OnceSlot interval_slot, account_slot, document_slot, statement_slot, section_slot;

}  // namespace

PyTypeObject* interval_type() {
  return reinterpret_cast<PyTypeObject*>(interval_slot.get([]() noexcept { return create_type(&interval_spec, false); }));
}
PyTypeObject* account_type() {
  return reinterpret_cast<PyTypeObject*>(account_slot.get([]() noexcept { return create_type(&account_spec, false); }));
}
PyTypeObject* document_type() {
  return reinterpret_cast<PyTypeObject*>(document_slot.get([]() noexcept { return create_type(&document_spec, false); }));
}
PyTypeObject* statement_type() {
  return reinterpret_cast<PyTypeObject*>(statement_slot.get([]() noexcept { return create_type(&statement_spec, false); }));
}
PyTypeObject* section_type_type() {
  return reinterpret_cast<PyTypeObject*>(section_slot.get(create_section_type));
}

PyObject* section_type_value(mirtle::SectionType type) {
  if (section_type_type() == nullptr) return nullptr;
  return section_type_values[static_cast<std::size_t>(type)].load(std::memory_order_relaxed);
}

PyObject* new_account(mirtle::Account&& account) {
  auto* self = alloc_plain<AccountObject>(account_type());
  if (self == nullptr) return nullptr;
  new (&self->record) mirtle::Account(std::move(account));
  return reinterpret_cast<PyObject*>(self);
}

PyObject* new_document(mirtle::Document&& document) {
  auto* self = alloc_plain<DocumentObject>(document_type());
  if (self == nullptr) return nullptr;
  new (&self->record) mirtle::Document(std::move(document));
  return reinterpret_cast<PyObject*>(self);
}

const mirtle::Document& document_record(PyObject* document) noexcept {
  return reinterpret_cast<DocumentObject*>(document)->record;
}
const mirtle::Account& account_record(PyObject* account) noexcept {
  return reinterpret_cast<AccountObject*>(account)->record;
}
const char* document_attribute_name(mirtle::DocField field) noexcept {
  for (const mirtle::DocAttribute& attribute : mirtle::kDocumentAttributes)
    if (attribute.field == field) return attribute.name.data();
  return "";
}

PyObject* new_statement(StatementParts&& parts) {
  PyTypeObject* type = statement_type();
  if (type == nullptr) return nullptr;
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  StatementObject& s = *as_statement(self);
  s.encoding = parts.encoding;
  s.header = parts.header.release();  // the object owns the references from here on
  s.accounts = parts.accounts.release();
  s.documents = parts.documents.release();
  s.warnings = parts.warnings.release();
  s.document_count = parts.document_count;
  s.warning_count = parts.warning_count;
  return self;
}

}  // namespace mirtle_py
