// Module initialisation: multi-phase, no module state; every class and
// exception type is created once per process and shared by every module
// object made from the definition.
#include <array>

#include "errors.hpp"
#include "parse.hpp"
#include "py.hpp"
#include "results.hpp"

namespace mirtle_py {
namespace {

constexpr const char kParseDoc[] =
    "parse(statement, hooks=None)\n"
    "--\n"
    "\n"
    "Парсит выписку 1CClientBankExchange из байтов или строки.\n"
    "\n"
    "# Аргументы\n"
    "\n"
    "* `statement` - Сырые байты или строка файла выписки (поддерживает кодировки CP1251 и UTF-8)\n"
    "* `hooks` - Опциональный список callable для модификации секций во время парсинга.\n"
    "  Сигнатура hook: `(section_type: SectionType, attrs: dict, header: dict) -> None`\n"
    "  - `section_type`: тип секции (`SectionType.Document` или `SectionType.Account`)\n"
    "  - attrs: словарь атрибутов секции (можно модифицировать)\n"
    "  - header: словарь заголовка выписки (только для чтения)\n"
    "\n"
    "# Возвращает\n"
    "\n"
    "Объект Statement с атрибутами:\n"
    "- encoding: \"cp1251\" или \"utf-8\"\n"
    "- header: словарь пар ключ-значение заголовка\n"
    "- accounts: словарь номер счёта -> объект Account\n"
    "- documents: список объектов Document\n"
    "- warnings: список кортежей (lineno, message)\n"
    "\n"
    "# Ошибки\n"
    "\n"
    "* `NotStatementError` - Если входные данные не являются выпиской 1C\n"
    "* `EmptyInputError` - Если входные данные пусты\n"
    "* `UnfinishedError` - Если выписка не завершена корректно\n"
    "* `SyntaxError` - Если в выписке синтаксическая ошибка (включая ошибки hooks)\n"
    "* `ParseError` - Для прочих ошибок парсинга";

PyMethodDef parse_def = {"parse", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(parse)),
                         METH_FASTCALL | METH_KEYWORDS, kParseDoc};

// Appends `name` to the module's __all__ (creating it) and sets the attribute.
bool add_value(PyObject* module, PyObject* name, PyObject* value) {
  PyObject* all = nullptr;
  if (PyObject_GetOptionalAttrString(module, "__all__", &all) < 0) return false;
  Ref all_ref = Ref::steal(all);
  if (!all_ref) {
    all_ref.reset(PyList_New(0));
    if (!all_ref || PyObject_SetAttrString(module, "__all__", all_ref.get()) < 0) return false;
  } else if (!PyList_Check(all_ref.get())) {
    PyErr_Format(PyExc_TypeError, "%s.__all__ must be a list, not %T", PyModule_GetName(module),
                 all_ref.get());
    return false;
  }
  if (PyList_Append(all_ref.get(), name) < 0) return false;
  return PyObject_SetAttr(module, name, value) == 0;
}

bool add_named(PyObject* module, const char* name, PyObject* value) {
  if (value == nullptr) return false;
  Ref key = Ref::steal(PyUnicode_FromString(name));
  return key && add_value(module, key.get(), value);
}

bool add_type(PyObject* module, const char* name, PyTypeObject* type) {
  return add_named(module, name, reinterpret_cast<PyObject*>(type));
}

bool add_parse(PyObject* module) {
  Ref module_name = Ref::steal(PyModule_GetNameObject(module));
  if (!module_name) return false;
  Ref function = Ref::steal(PyCMethod_New(&parse_def, module, module_name.get(), nullptr));
  if (!function) return false;
  Ref name = Ref::steal(PyObject_GetAttrString(function.get(), "__name__"));
  if (!name) return false;
  if (!PyUnicode_Check(name.get())) {
    PyErr_SetString(PyExc_TypeError, "parse.__name__ must be a str");
    return false;
  }
  return add_value(module, name.get(), function.get());
}

constexpr std::array<std::pair<const char*, mirtle::SyntaxKind>, 7> kDetailOrder = {{
    {"UnexpectedSection", mirtle::SyntaxKind::UnexpectedSection},
    {"UnexpectedAttribute", mirtle::SyntaxKind::UnexpectedAttribute},
    {"UnrecognizedLine", mirtle::SyntaxKind::UnrecognizedLine},
    {"MissingField", mirtle::SyntaxKind::MissingField},
    {"AccountParseError", mirtle::SyntaxKind::AccountParseError},
    {"DocumentParseError", mirtle::SyntaxKind::DocumentParseError},
    {"HookError", mirtle::SyntaxKind::HookError},
}};

constexpr std::array<std::pair<const char*, ExceptionKind>, 5> kExceptionOrder = {{
    {"ParseError", ExceptionKind::Parse},
    {"NotStatementError", ExceptionKind::NotStatement},
    {"EmptyInputError", ExceptionKind::EmptyInput},
    {"UnfinishedError", ExceptionKind::Unfinished},
    {"SyntaxError", ExceptionKind::Syntax},
}};

int exec_module(PyObject* module) {
  if (!PyModule_Check(module)) {
    PyErr_SetString(PyExc_TypeError, "mirtle_py: expected a module object");
    return -1;
  }
  if (!add_type(module, "Interval", interval_type()) || !add_type(module, "Account", account_type()) ||
      !add_type(module, "Document", document_type()) ||
      !add_type(module, "Statement", statement_type()) ||
      !add_type(module, "SectionType", section_type_type()))
    return -1;
  for (const auto& [name, kind] : kDetailOrder)
    if (!add_type(module, name, detail_type(kind))) return -1;
  if (!add_parse(module)) return -1;
  for (const auto& [name, kind] : kExceptionOrder)
    if (!add_named(module, name, exception_type(kind))) return -1;
  return 0;
}

PyModuleDef module_def = module_definition("mirtle_py", "", nullptr, module_slots<exec_module>);

}  // namespace
}  // namespace mirtle_py

PyMODINIT_FUNC PyInit_mirtle_py() { return PyModuleDef_Init(&mirtle_py::module_def); }
