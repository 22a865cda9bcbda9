"""mirtle: a toolkit for bank statements in the 1CClientBankExchange format.

Built on mirtle_py, which it leaves as it is: ``read`` parses from a path, a
file or a buffer; ``to_decimal``/``to_date`` give typed values; ``to_dict``
and ``to_json`` give the statement as plain data; ``to_csv`` and ``to_xlsx``
write it as the command-line tool does, and ``balances`` checks its
balances; ``sections`` gives every line as written, keys the records drop
included; ``write`` and ``write_documents`` produce statement files.  ``documents_table`` and
``intervals_table`` give pyarrow tables, and ``tables`` both from one parse
(``mirtle.tables`` is their module, which called runs its ``tables``);
``mirtle.dask.read_documents`` gives a Dask data frame of many statements;
pyarrow and Dask are imported only when these are first used.
"""

import importlib as _importlib
import importlib.machinery as _machinery
import importlib.util as _util
import sys as _sys
from types import ModuleType as _ModuleType
from typing import TYPE_CHECKING as _TYPE_CHECKING
from typing import Any as _Any

import mirtle_py as _mirtle_py


def _load_native() -> _ModuleType:
    """Loads mirtle._native from mirtle_py's own shared object.

    The dynamic loader hands back the library mirtle_py came from, so both
    modules share one set of types: an error raised here is caught by
    ``except mirtle_py.SyntaxError``, and hooks see mirtle_py.SectionType.
    """
    name = f"{__name__}._native"
    loaded = _sys.modules.get(name)
    if loaded is not None:
        return loaded
    path = _mirtle_py.__file__
    loader = _machinery.ExtensionFileLoader(name, path)
    spec = _util.spec_from_file_location(name, path, loader=loader)
    assert spec is not None
    module = _util.module_from_spec(spec)
    _sys.modules[name] = module  # as the import system does, so that `import mirtle._native` finds it
    try:
        loader.exec_module(module)
    except BaseException:
        del _sys.modules[name]
        raise
    return module


if _TYPE_CHECKING:
    from . import _native
else:
    _native = _load_native()

from ._dict import to_dict  # noqa: E402
from ._export import Balance, balances, to_csv, to_json, to_xlsx  # noqa: E402
from ._read import Hook, read  # noqa: E402
from ._sections import Section, Sections, sections  # noqa: E402
from ._source import Source, read_source  # noqa: E402
from ._values import to_date, to_decimal  # noqa: E402
from ._write import DOCUMENT_KEYS, PAYMENT_ORDER, WriteError, write, write_documents  # noqa: E402

if _TYPE_CHECKING:
    from . import dask
    from .tables import TablesModule as _TablesModule
    from .tables import documents_table, intervals_table

    # The module mirtle.tables, which called runs mirtle.tables.tables.
    tables: _TablesModule

__all__ = [
    "Balance", "DOCUMENT_KEYS", "Hook", "PAYMENT_ORDER", "Section", "Sections", "Source", "WriteError", "balances", "read",
    "read_source", "sections", "to_csv", "to_date", "to_decimal", "to_dict", "to_json", "to_xlsx", "write",
    "write_documents",
    "documents_table", "intervals_table", "tables",
]

# Names whose modules load on first use, so that `import mirtle` stays quick;
# mirtle.tables is such a module, and calling it runs its tables().
_LAZY_NAMES = {"documents_table": "tables", "intervals_table": "tables"}
_LAZY_MODULES = ("dask", "tables")


def __getattr__(name: str) -> _Any:
    if name in _LAZY_MODULES:
        return _importlib.import_module(f"{__name__}.{name}")
    module = _LAZY_NAMES.get(name)
    if module is None:
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    value = getattr(_importlib.import_module(f"{__name__}.{module}"), name)
    globals()[name] = value
    return value


def __dir__() -> list[str]:
    return sorted({*globals(), *_LAZY_NAMES, *_LAZY_MODULES})
