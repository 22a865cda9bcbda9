"""Many statements as one Dask data frame, one partition per file.

Each partition is ``mirtle.documents_table(path).to_pandas()``: amounts are
``decimal.Decimal`` objects, dates ``datetime.date`` objects, texts ``str``
or ``None`` and ``lineno`` ``int64``.  Files are read where the partition is
computed, by the scheduler's workers.  Object columns stay as they are:
the frame is built with Dask's "dataframe.convert-string" turned off, which
would otherwise make strings of the amounts and dates.
"""

from __future__ import annotations

import os
from collections.abc import Iterable
from typing import TYPE_CHECKING

from mirtle.tables import documents_table, require

if TYPE_CHECKING:
    # pandas ships no types; Dask's own name the frame class by its module.
    import pandas as _pandas  # type: ignore[import-untyped, unused-ignore]
    from dask.dataframe.core import DataFrame as _DataFrame

__all__ = ["read_documents"]

# A statement without documents: its table is the schema with no rows.
_EMPTY_STATEMENT = ("1CClientBankExchange\nСекцияРасчСчет\nРасчСчет=0\nДатаНачала=01.01.2024\n"
                    "НачальныйОстаток=0\nКонецРасчСчет\nКонецФайла\n").encode()


def read_documents(paths: Iterable[str | os.PathLike[str]]) -> _DataFrame:
    """The documents of the statements at ``paths``, one partition per file,
    in the order given; the columns are those of ``documents_table``.
    """
    dd = require("dask.dataframe", "dask.read_documents")
    names = [os.fspath(path) for path in paths]
    if not names:
        raise ValueError("read_documents needs at least one path")
    import dask
    meta = documents_table(_EMPTY_STATEMENT).to_pandas()
    # Dask would turn every object column into strings, Decimal amounts and
    # dates included: the partitions keep the types to_pandas() gives.
    with dask.config.set({"dataframe.convert-string": False}):
        frame: _DataFrame = dd.from_map(_documents_frame, names, meta=meta, label="read-documents",
                                       enforce_metadata=False)
    return frame


def _documents_frame(path: str) -> _pandas.DataFrame:
    return documents_table(path).to_pandas()
