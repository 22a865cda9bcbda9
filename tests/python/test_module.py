"""Import-time surface of mirtle_py: names, docstrings, module names, re-import."""

import hashlib
import importlib
import subprocess
import sys

import pytest

import mirtle_py
from conftest import DETAILS, doc, statement

ALL = ["Interval", "Account", "Document", "Statement", "SectionType", "UnexpectedSection", "UnexpectedAttribute",
       "UnrecognizedLine", "MissingField", "AccountParseError", "DocumentParseError", "HookError", "parse",
       "ParseError", "NotStatementError", "EmptyInputError", "UnfinishedError", "SyntaxError"]


class TestModule:
    def test_module_names_and_docstrings(self):
        assert type(mirtle_py.__all__) is list and mirtle_py.__all__ == ALL
        assert {n for n in vars(mirtle_py) if not n.startswith("_")} == set(ALL) and mirtle_py.__doc__ == ""
        parse = mirtle_py.parse
        assert type(parse).__name__ == "builtin_function_or_method" and parse.__self__ is mirtle_py
        assert (parse.__module__, parse.__qualname__, parse.__text_signature__) == (
            "mirtle_py", "parse", "(statement, hooks=None)")
        # The docstring is pinned by its digest: print(mirtle_py.parse.__doc__) shows it.
        assert parse.__doc__.startswith("Парсит выписку 1CClientBankExchange из байтов или строки.\n\n# Аргументы\n")
        assert (len(parse.__doc__), hashlib.sha256(parse.__doc__.encode()).hexdigest()[:12]) == (1095, "2ae2e99a20a0")

    @pytest.mark.parametrize("name", [n for n in ALL if n != "parse"])
    def test_classes(self, name):  # a docstring that is only a signature gives no __doc__
        cls, module = getattr(mirtle_py, name), "builtins" if name in ALL[:4] else "mirtle_py"
        assert type(cls) is type and cls.__name__ == cls.__qualname__ == name
        assert repr(cls) == f"<class '{module}.{name}'>"
        assert cls.__doc__ == ("Тип секции выписки для использования в hooks." if name == "SectionType" else None)
        assert cls.__text_signature__ == (f"(lineno, {', '.join(DETAILS[cls])})" if cls in DETAILS else None)

    def test_reimport_shares_type_objects_and_makes_a_new_parse(self):
        old = sys.modules.pop("mirtle_py")
        try:
            new = importlib.import_module("mirtle_py")
            assert new.__all__ == ALL and new.__all__ is not old.__all__ and new.parse.__self__ is new is not old
            assert all(getattr(new, n) is getattr(old, n) for n in ALL if n != "parse")
            assert type(old.parse(statement(doc()))) is type(new.parse(statement(doc()))) is old.Statement
        finally:
            sys.modules["mirtle_py"] = old


def test_subinterpreter_import_is_refused():  # the type objects are shared by the whole process
    script = ("from concurrent import interpreters\nimport mirtle_py\ninterp = interpreters.create()\n"
              "try:\n    interp.exec('import mirtle_py')\nexcept interpreters.ExecutionFailed as e:\n"
              "    print(e.excinfo.type.__name__)\ninterp.close()\nprint(len(mirtle_py.parse(b'').documents))")
    proc = subprocess.run([sys.executable, "-c", script.replace("b''", repr(statement(doc())))],
                          capture_output=True, text=True, timeout=60)
    assert proc.stdout.split() == ["ImportError", "1"], proc.stdout + proc.stderr
