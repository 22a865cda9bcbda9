"""mirtle: a toolkit for bank statements in the 1CClientBankExchange format.

Built on mirtle_py, which it leaves as it is: ``read`` parses from a path, a
file or a buffer; ``to_decimal``/``to_date`` give typed values; ``to_dict``
and ``to_json`` give the statement as plain data; ``sections`` gives every
line as written, keys the records drop included; ``write`` and
``write_documents`` produce statement files.  ``documents_table`` and
``intervals_table`` give pyarrow tables (``mirtle.tables``), and
``mirtle.dask.read_documents`` a Dask data frame of many statements; pyarrow
and Dask are imported only when these are first used.
"""

import importlib as _importlib
import pkgutil as _pkgutil
from typing import TYPE_CHECKING as _TYPE_CHECKING
from typing import Any as _Any

# In a build tree the native modules sit in a second mirtle directory.
__path__ = _pkgutil.extend_path(__path__, __name__)

from ._dict import to_dict, to_json  # noqa: E402
from ._read import Hook, read  # noqa: E402
from ._sections import Section, Sections, sections  # noqa: E402
from ._source import Source, read_source  # noqa: E402
from ._values import to_date, to_decimal  # noqa: E402
from ._write import DOCUMENT_KEYS, PAYMENT_ORDER, WriteError, write, write_documents  # noqa: E402

if _TYPE_CHECKING:
    from . import dask, tables
    from .tables import documents_table, intervals_table

__all__ = [
    "DOCUMENT_KEYS", "Hook", "PAYMENT_ORDER", "Section", "Sections", "Source", "WriteError", "read", "read_source", "sections",
    "to_date", "to_decimal", "to_dict", "to_json", "write", "write_documents",
    "documents_table", "intervals_table",
]

# Names whose modules load on first use, so that `import mirtle` stays quick.
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
