"""read_documents: one partition per file, the rows of a sequential loop, and Dask's own operations on them."""

import datetime
import decimal
import pathlib
from decimal import Decimal

import pandas
import pytest

dd = pytest.importorskip("dask.dataframe")

import dask  # noqa: E402

import mirtle  # noqa: E402
import mirtle.dask  # noqa: E402
from conftest import generated  # noqa: E402
from tables_support import document, statement  # noqa: E402


@pytest.fixture(scope="module")
def paths(tmp_path_factory):
    folder = tmp_path_factory.mktemp("statements")
    out = []
    for i in range(24):
        path = folder / f"s{i:02}.txt"
        path.write_bytes(generated(i, ("utf-8", "cp1251")[i % 2], documents=20 + i))
        out.append(str(path))
    return out


def sequential(paths):
    frames = [mirtle.documents_table(p).to_pandas() for p in paths]
    return pandas.concat(frames, ignore_index=True)


def plain(value):
    """A result as Python values, a missing one None, whatever dtypes hold it."""
    if isinstance(value, pandas.DataFrame):
        return [plain(tuple(row)) for row in value.itertuples(index=False)]
    if isinstance(value, pandas.Series) and not pandas.api.types.is_integer_dtype(value.index):
        return {plain(k): plain(v) for k, v in value.items()}  # a group's result, in any order
    if isinstance(value, pandas.Series):
        return [plain(v) for v in value.tolist()]
    if isinstance(value, tuple):
        return tuple(plain(v) for v in value)
    return None if value is None or value is pandas.NA else value


def test_one_partition_per_file_with_the_schema_as_meta(paths):
    frame = mirtle.dask.read_documents(paths[:3])
    assert frame.npartitions == 3
    assert list(frame.columns) == list(mirtle.documents_table(paths[0]).column_names)
    computed = frame.compute()
    assert list(computed.dtypes) == list(frame.dtypes)
    assert plain(computed) == plain(sequential(paths[:3]))


def test_two_worker_processes_give_the_rows_of_a_loop(paths):
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        computed = mirtle.dask.read_documents(paths).compute()
    assert plain(computed) == plain(sequential(paths))


# Each operation runs on the Dask frame and on the sequential pandas frame
# (Decimal and date objects); the results must agree value for value.
OPERATIONS = {
    "sum of amounts": lambda f: f.amount.sum(),
    "largest amount": lambda f: f.amount.max(),
    "amounts over 100000": lambda f: f[f.amount > 100000][["doc_number", "amount", "lineno"]],
    "amounts up to 1000.50": lambda f: f[f.amount <= Decimal("1000.50")].amount,
    "sum by type": lambda f: f.groupby("doc_type").amount.sum(),
    "last date": lambda f: f.doc_date.max(),
    "after 1 March": lambda f: f[f.doc_date > datetime.date(2024, 3, 1)].doc_number,
}


@pytest.mark.parametrize("convert_string", [True, False], ids=["convert-string on", "convert-string off"])
@pytest.mark.parametrize("operation", OPERATIONS.values(), ids=OPERATIONS.keys())
def test_dask_operations_agree_with_the_sequential_frame(paths, operation, convert_string):
    with dask.config.set({"dataframe.convert-string": convert_string}):
        frame = mirtle.dask.read_documents(paths)
        result = operation(frame).compute()
    expected = operation(sequential(paths))
    assert plain(result) == plain(expected)
    assert plain(result) not in ([], None, 0), "the operation should select something"


def test_amounts_are_decimal_and_dates_are_date_in_every_result(paths):
    frame = mirtle.dask.read_documents(paths[:2])
    total, first = dask.compute(frame.amount.sum(), frame.doc_date.min())
    assert type(total) is Decimal and type(first) is datetime.date
    assert {type(v) for v in frame[frame.amount > 0].amount.compute()} == {Decimal}


def amounts_file(tmp_path, *amounts):
    path = tmp_path / "amounts.txt"
    path.write_text(statement(*(document(Номер=str(i), Сумма=a) for i, a in enumerate(amounts))), "utf-8")
    return str(path)


def closing_line(path, amount):
    """The line of the КонецДокумента after "Сумма=<amount>"."""
    lines = pathlib.Path(path).read_text(encoding="utf-8").split("\n")
    return lines.index("КонецДокумента", lines.index(f"Сумма={amount}")) + 1


@pytest.mark.parametrize("amounts, scale", [
    (["1.005", "2"], 3),
    (["79228162514264337593543950335", "0.000000001"], 9),
    (["-0.0000000000000000000000000001"], 28),
], ids=["three places", "largest amount", "28 places"])
def test_an_amount_scale_that_holds_every_amount_sums_exactly(tmp_path, amounts, scale):
    frame = mirtle.dask.read_documents([amounts_file(tmp_path, *amounts)], amount_scale=scale)
    total = frame.amount.sum().compute()
    with decimal.localcontext(prec=60):
        assert total == sum(map(Decimal, amounts)) and -total.as_tuple().exponent == scale


@pytest.mark.parametrize("amounts, scale, refused", [
    (["2", "1.005"], 2, "1.005"),
    (["100.50"], 0, "100.50"),
    (["79228162514264337593543950335"], 10, "79228162514264337593543950335"),
], ids=["a third place", "a place at scale 0", "too many digits before the point"])
def test_an_amount_the_scale_cannot_hold_names_file_and_line(tmp_path, amounts, scale, refused):
    path = amounts_file(tmp_path, *amounts)
    frame = mirtle.dask.read_documents([path], amount_scale=scale)  # the file is read at compute
    with pytest.raises(ValueError) as info:
        frame.compute()
    line = closing_line(path, refused)
    assert str(info.value) == (f"{path}: the amount {refused} of the document ending at line {line} cannot "
                               f"be held exactly as decimal128(38, {scale}); choose another amount_scale")


@pytest.mark.parametrize("scale, error", [(-1, ValueError), (29, ValueError), (2.0, TypeError),
                                          (True, TypeError), ("2", TypeError)])
def test_amount_scale_is_checked(paths, scale, error):
    with pytest.raises(error, match="amount_scale"):
        mirtle.dask.read_documents(paths[:1], amount_scale=scale)


def test_no_paths():
    with pytest.raises(ValueError, match="^read_documents needs at least one path$"):
        mirtle.dask.read_documents([])


@pytest.mark.parametrize("wrap", [str, pathlib.Path], ids=["str", "Path"])
def test_one_path_is_one_partition(paths, wrap):
    frame = mirtle.dask.read_documents(wrap(paths[0]))
    assert frame.npartitions == 1
    assert plain(frame.compute()) == plain(sequential(paths[:1]))
