"""Many statements as one Dask data frame, one partition per file.

Each partition is ``mirtle.documents_table(path)`` in pandas, with columns
that Arrow backs: texts ``string[pyarrow]`` (``<NA>`` where the statement has
no value), dates ``date32[pyarrow]`` (``datetime.date`` values), amounts
``decimal128(38, amount_scale)[pyarrow]`` (``decimal.Decimal`` values, every
one exact) and ``lineno`` ``int64``.  The frame's meta has the same types, so
that every Dask operation, sums, comparisons and filters included, works on
these values whether Dask's "dataframe.convert-string" is on or off.  Files
are read where the partition is computed, by the scheduler's workers.
"""

from __future__ import annotations

import datetime
import functools
import os
from collections.abc import Iterable
from typing import TYPE_CHECKING, Any

from mirtle.tables import documents_table, require

if TYPE_CHECKING:
    # pandas ships no types; Dask's own name the frame class by its module.
    import pandas as _pandas  # type: ignore[import-untyped, unused-ignore]
    from dask.dataframe.core import DataFrame as _DataFrame

__all__ = ["read_documents"]

# A statement without documents: its table is the schema with no rows.
_EMPTY_STATEMENT = ("1CClientBankExchange\nСекцияРасчСчет\nРасчСчет=0\nДатаНачала=01.01.2024\n"
                    "НачальныйОстаток=0\nКонецРасчСчет\nКонецФайла\n").encode()
_MAX_SCALE = 28  # an amount has at most 28 decimal places


def read_documents(paths: str | os.PathLike[str] | Iterable[str | os.PathLike[str]], *,
                   amount_scale: int = 2) -> _DataFrame:
    """The documents of the statements at ``paths`` (one path, or many), one
    partition per file, in the order given; the columns are those of
    ``documents_table``.

    Amounts share one type across the files, ``decimal128(38,
    amount_scale)``, 2 (kopecks) unless given, 0 to 28.  An amount that type
    cannot hold exactly (more decimal places, or more than ``38 -
    amount_scale`` digits before the point) raises ValueError naming the file
    and the document's line when its partition is computed.
    """
    dd = require("dask.dataframe", "dask.read_documents")
    if isinstance(amount_scale, bool) or not isinstance(amount_scale, int):
        raise TypeError(f"amount_scale must be int, not {type(amount_scale).__name__}")
    if not 0 <= amount_scale <= _MAX_SCALE:
        raise ValueError(f"amount_scale must be 0 to {_MAX_SCALE}, not {amount_scale}")
    # One path is a list of one, not a string of one-letter paths.
    names = [os.fspath(paths)] if isinstance(paths, (str, os.PathLike)) else [os.fspath(p) for p in paths]
    if not names:
        raise ValueError("read_documents needs at least one path")
    _date_scalars_for_dask()
    meta = _frame(documents_table(_EMPTY_STATEMENT), amount_scale, "")
    frame: _DataFrame = dd.from_map(functools.partial(_documents_frame, amount_scale=amount_scale), names,
                                    meta=meta, label="read-documents", enforce_metadata=False)
    return frame


def _documents_frame(path: str, amount_scale: int) -> _pandas.DataFrame:
    return _frame(documents_table(path), amount_scale, path)


def _frame(table: Any, amount_scale: int, path: str) -> _pandas.DataFrame:
    """The table in pandas, Arrow-backed, its amounts at ``amount_scale``.

    Dask turns every object column into strings when it makes a collection
    with "dataframe.convert-string" on, Decimal amounts and dates included;
    columns that Arrow backs it leaves as they are.
    """
    pa = require("pyarrow", "dask.read_documents")
    pd = require("pandas", "dask.read_documents")
    target = pa.decimal128(38, amount_scale)
    amounts = table.column("amount")
    try:
        exact = amounts.cast(target)  # a safe cast: refuses to round or overflow
    except pa.ArrowInvalid:
        raise _amount_error(pa, table, target, path) from None
    table = table.set_column(table.schema.get_field_index("amount"), "amount", exact)

    def pandas_type(arrow_type: Any) -> Any:
        if pa.types.is_string(arrow_type):
            return pd.StringDtype("pyarrow")  # what Dask's own string conversion gives
        if pa.types.is_date32(arrow_type) or pa.types.is_decimal(arrow_type):
            return pd.ArrowDtype(arrow_type)
        return None  # lineno: int64, never null

    return table.to_pandas(types_mapper=pandas_type)


def _amount_error(pa: Any, table: Any, target: Any, path: str) -> ValueError:
    """The error naming the first amount that ``target`` cannot hold exactly."""
    amounts, lines = table.column("amount"), table.column("lineno")
    for index in range(table.num_rows):
        try:
            amounts.slice(index, 1).cast(target)
        except pa.ArrowInvalid:
            return ValueError(f"{path}: the amount {amounts[index].as_py()} of the document ending at line "
                              f"{lines[index].as_py()} cannot be held exactly as {target}; choose another "
                              f"amount_scale")
    return ValueError(f"{path}: an amount cannot be held exactly as {target}")  # not reached


def _date_scalars_for_dask() -> None:
    """Lets Dask infer the result of a reduction that gives a date (the max of a date column).

    Dask knows no datetime.date scalar; a date stands for itself, as Dask's
    own pandas scalars do.  Registered through Dask's extension point, once:
    only when nothing is registered for dates yet.
    """
    make_scalar = require("dask.dataframe.extensions", "dask.read_documents").make_scalar
    try:
        make_scalar.dispatch(datetime.date)
    except TypeError:
        make_scalar.register(datetime.date)(_same_date)


def _same_date(value: datetime.date) -> datetime.date:
    return value
