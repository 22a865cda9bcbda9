"""Import-time surface of mirtle_py: names, docstrings, module names, re-import."""

import importlib
import shutil
import subprocess
import sys
import textwrap

import pytest

import mirtle_py
from conftest import doc, statement

ALL = [
    "Interval", "Account", "Document", "Statement", "SectionType",
    "UnexpectedSection", "UnexpectedAttribute", "UnrecognizedLine", "MissingField",
    "AccountParseError", "DocumentParseError", "HookError", "parse",
    "ParseError", "NotStatementError", "EmptyInputError", "UnfinishedError", "SyntaxError",
]

PARSE_DOC = """\
parse(statement, hooks=None)
--

Парсит выписку 1CClientBankExchange из байтов или строки.

# Аргументы

* `statement` - Сырые байты или строка файла выписки (поддерживает кодировки CP1251 и UTF-8)
* `hooks` - Опциональный список callable для модификации секций во время парсинга.
  Сигнатура hook: `(section_type: SectionType, attrs: dict, header: dict) -> None`
  - `section_type`: тип секции (`SectionType.Document` или `SectionType.Account`)
  - attrs: словарь атрибутов секции (можно модифицировать)
  - header: словарь заголовка выписки (только для чтения)

# Возвращает

Объект Statement с атрибутами:
- encoding: "cp1251" или "utf-8"
- header: словарь пар ключ-значение заголовка
- accounts: словарь номер счёта -> объект Account
- documents: список объектов Document
- warnings: список кортежей (lineno, message)

# Ошибки

* `NotStatementError` - Если входные данные не являются выпиской 1C
* `EmptyInputError` - Если входные данные пусты
* `UnfinishedError` - Если выписка не завершена корректно
* `SyntaxError` - Если в выписке синтаксическая ошибка (включая ошибки hooks)
* `ParseError` - Для прочих ошибок парсинга"""

SIGNATURE_ONLY = None  # a class whose docstring is only a signature reports no __doc__

# name, __module__, __doc__, __text_signature__
CLASSES = [
    ("Interval", "builtins", None, None),
    ("Account", "builtins", None, None),
    ("Document", "builtins", None, None),
    ("Statement", "builtins", None, None),
    ("SectionType", "mirtle_py", "Тип секции выписки для использования в hooks.", None),
    ("UnexpectedSection", "mirtle_py", SIGNATURE_ONLY, "(lineno, found, context)"),
    ("UnexpectedAttribute", "mirtle_py", SIGNATURE_ONLY, "(lineno, key, value)"),
    ("UnrecognizedLine", "mirtle_py", SIGNATURE_ONLY, "(lineno, line)"),
    ("MissingField", "mirtle_py", SIGNATURE_ONLY, "(lineno, field, context)"),
    ("AccountParseError", "mirtle_py", SIGNATURE_ONLY, "(lineno, message)"),
    ("DocumentParseError", "mirtle_py", SIGNATURE_ONLY, "(lineno, message)"),
    ("HookError", "mirtle_py", SIGNATURE_ONLY, "(lineno, message)"),
    ("ParseError", "mirtle_py", None, None),
    ("NotStatementError", "mirtle_py", None, None),
    ("EmptyInputError", "mirtle_py", None, None),
    ("UnfinishedError", "mirtle_py", None, None),
    ("SyntaxError", "mirtle_py", None, None),
]

EXCEPTIONS = ["ParseError", "NotStatementError", "EmptyInputError", "UnfinishedError", "SyntaxError"]


def test_all_lists_every_name_in_registration_order():
    assert type(mirtle_py.__all__) is list
    assert mirtle_py.__all__ == ALL
    assert all(type(n) is str for n in mirtle_py.__all__)
    public = {n for n in vars(mirtle_py) if not n.startswith("_")}
    assert public == set(ALL)


def test_module_docstring_is_an_empty_str():
    assert type(mirtle_py.__doc__) is str and mirtle_py.__doc__ == ""
    assert mirtle_py.__name__ == "mirtle_py"


def test_parse_docstring_and_signature():
    assert len(PARSE_DOC) == 1128 and len(PARSE_DOC.encode()) == 1647  # guards the literal above
    assert mirtle_py.parse.__text_signature__ == "(statement, hooks=None)"
    assert mirtle_py.parse.__doc__ == PARSE_DOC.split("\n--\n\n", 1)[1]
    assert mirtle_py.parse.__doc__.startswith("Парсит выписку")


def test_parse_is_a_builtin_bound_to_the_module():
    parse = mirtle_py.parse
    assert type(parse).__name__ == "builtin_function_or_method"
    assert parse.__self__ is mirtle_py
    assert parse.__module__ == "mirtle_py"
    assert parse.__name__ == parse.__qualname__ == "parse"


@pytest.mark.parametrize(("name", "module", "doc_", "signature"), CLASSES, ids=[c[0] for c in CLASSES])
def test_class_names_docs_and_reprs(name, module, doc_, signature):
    cls = getattr(mirtle_py, name)
    assert isinstance(cls, type)
    assert cls.__name__ == cls.__qualname__ == name
    assert cls.__module__ == module
    assert repr(cls) == f"<class '{module}.{name}'>"
    assert cls.__doc__ == doc_
    if name not in EXCEPTIONS:
        assert cls.__text_signature__ == signature


@pytest.mark.parametrize("name", EXCEPTIONS)
def test_exception_types_have_nothing_of_their_own(name):
    cls = getattr(mirtle_py, name)
    own = {k for k in vars(cls) if k not in ("__module__", "__doc__", "__dict__", "__weakref__")}
    assert own == set()


def test_import_under_warnings_as_errors():
    proc = subprocess.run([sys.executable, "-W", "error", "-X", "dev", "-c", "import mirtle_py"],
                          capture_output=True, text=True, timeout=60)
    assert proc.returncode == 0, proc.stderr
    assert proc.stderr == "" and proc.stdout == ""


def test_only_the_init_symbol_is_exported():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    out = subprocess.run([nm, "-D", "--defined-only", mirtle_py.__file__], capture_output=True, text=True,
                         check=True).stdout
    names = {line.split()[-1].split("@")[0] for line in out.splitlines() if line.strip()}
    assert names == {"PyInit_mirtle_py"}


def test_reimport_shares_type_objects_and_makes_a_new_parse():
    old = sys.modules.pop("mirtle_py")
    try:
        new = importlib.import_module("mirtle_py")
        assert new is not old
        assert new.__all__ == ALL and new.__all__ is not old.__all__
        for name in ALL:
            if name == "parse":
                assert new.parse is not old.parse
                assert new.parse.__self__ is new
            else:
                assert getattr(new, name) is getattr(old, name), name
        # both module objects keep working and hand out the same classes
        a = old.parse(statement(doc()))
        b = new.parse(statement(doc()))
        assert type(a) is type(b) is old.Statement
        assert new.SectionType.Document is old.SectionType.Document
    finally:
        sys.modules["mirtle_py"] = old


SUBINTERPRETER_SCRIPT = textwrap.dedent("""
    import sys
    try:
        from concurrent import interpreters
    except ImportError:
        print("unavailable")
        sys.exit(0)
    import mirtle_py
    interp = interpreters.create()
    try:
        interp.exec("import mirtle_py")
    except interpreters.ExecutionFailed as e:
        print("failed", e.excinfo.type.__name__)
    else:
        print("imported")
    interp.close()
    st = mirtle_py.parse(sys.argv[1])
    print("main", len(st.documents))
""")


def test_subinterpreter_import_fails_cleanly():
    proc = subprocess.run([sys.executable, "-c", SUBINTERPRETER_SCRIPT, statement(doc())],
                          capture_output=True, text=True, timeout=60)
    assert proc.returncode == 0, proc.stderr
    if proc.stdout.strip() == "unavailable":
        pytest.skip("this interpreter has no concurrent.interpreters")
    assert proc.stdout.split("\n")[:2] == ["failed ImportError", "main 1"], proc.stdout + proc.stderr
