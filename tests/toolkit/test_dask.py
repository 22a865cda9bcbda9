"""read_documents: one partition per file, the rows of a sequential loop."""

import pandas.testing
import pytest

dd = pytest.importorskip("dask.dataframe")

import mirtle  # noqa: E402
import mirtle.dask  # noqa: E402
from conftest import generated  # noqa: E402


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


def test_one_partition_per_file_with_the_schema_as_meta(paths):
    frame = mirtle.dask.read_documents(paths[:3])
    assert frame.npartitions == 3
    assert list(frame.columns) == list(mirtle.documents_table(paths[0]).column_names)
    computed = frame.compute()
    assert list(computed.dtypes) == list(frame.dtypes)
    pandas.testing.assert_frame_equal(computed.reset_index(drop=True), sequential(paths[:3]))


def test_two_worker_processes_give_the_rows_of_a_loop(paths):
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        computed = mirtle.dask.read_documents(paths).compute()
    pandas.testing.assert_frame_equal(computed.reset_index(drop=True), sequential(paths))


def test_no_paths():
    with pytest.raises(ValueError, match="^read_documents needs at least one path$"):
        mirtle.dask.read_documents([])
