"""mirtle: a toolkit for bank statements in the 1CClientBankExchange format.

Built on mirtle_py, which it leaves as it is: ``read`` parses from a path, a
file or a buffer; ``to_decimal``/``to_date`` give typed values; ``to_dict``
and ``to_json`` give the statement as plain data; ``sections`` gives every
line as written, keys the records drop included; ``write`` and
``write_documents`` produce statement files.
"""

import pkgutil as _pkgutil

# In a build tree the native modules sit in a second mirtle directory.
__path__ = _pkgutil.extend_path(__path__, __name__)

from ._dict import to_dict, to_json  # noqa: E402
from ._read import Hook, read  # noqa: E402
from ._sections import Section, Sections, sections  # noqa: E402
from ._source import Source, read_source  # noqa: E402
from ._values import to_date, to_decimal  # noqa: E402
from ._write import DOCUMENT_KEYS, PAYMENT_ORDER, WriteError, write, write_documents  # noqa: E402

__all__ = [
    "DOCUMENT_KEYS", "Hook", "PAYMENT_ORDER", "Section", "Sections", "Source", "WriteError", "read", "read_source", "sections",
    "to_date", "to_decimal", "to_dict", "to_json", "write", "write_documents",
]
