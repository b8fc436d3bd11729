"""The Arrow hand-over to the native batch, without Spark: what a worker does with each batch."""

import pytest

pa = pytest.importorskip("pyarrow")

from tessera_spark._rows import assess_column  # noqa: E402

TEXTS = ["SELECT 1", None, "", "-- x\r\nWITH c AS (SELECT 1) SELECT * FROM c\r", "SELECT 'é'", None, "MERGE INTO t USING s ON 1=1"]


@pytest.mark.parametrize("kind", [pa.string(), pa.large_string(), pa.binary(), pa.large_binary()])
def test_every_arrow_layout_and_slice_gives_each_entry_its_own_row(kind):
    whole = pa.array(TEXTS, kind) if pa.types.is_string(kind) or pa.types.is_large_string(kind) else pa.array(
        [None if t is None else t.encode() for t in TEXTS], kind)
    rows = assess_column(whole).to_pylist()
    alone = [assess_column(pa.array([t], pa.string())).to_pylist()[0] for t in TEXTS]
    assert rows == alone
    # A slice shares its parent's buffers; its own offset must be honoured.
    for start, stop in [(1, 4), (3, 7), (6, 7), (2, 2)]:
        assert assess_column(whole.slice(start, stop - start)).to_pylist() == rows[start:stop]
    assert [row["error"] for row in rows] == [None, "null", None, None, None, "null", None]


def test_bytes_that_are_not_utf8_fail_their_row_only():
    rows = assess_column(pa.array([b"SELECT 1", b"SELECT '\xe9'", b"\xef\xbb\xbfSELECT 2"], pa.binary())).to_pylist()
    assert [row["error"] for row in rows] == [None, "not valid UTF-8 (byte 0xe9 at offset 8)", None]
    assert rows[2]["bytes"] == 11
    with pytest.raises(TypeError, match="string or binary"):
        assess_column(pa.array([1, 2]))


def test_the_dialect_comes_from_the_native_batch_or_else_from_python(monkeypatch):
    from types import SimpleNamespace

    from tessera_spark import _rows
    from tessera_cli.dialect import dialect_of

    texts = pa.array(["SET NOCOUNT ON;\nSELECT TOP (1) [a] FROM dbo.t WITH (NOLOCK);\nGO\n", "SELECT 1", None,
                      "CREATE TABLE t (id BIGSERIAL, doc JSONB);\r\nSELECT doc->>'a' FROM t;\r\n"], pa.string())
    native = assess_column(texts).to_pylist()
    assert [row["dialect"] for row in native] == [None if t is None else dialect_of(t.replace("\r\n", "\n"))
                                                  for t in texts.to_pylist()]
    # A batch module without its detector leaves the column out; the rows are the same.
    real = _rows._batch.assess_buffers
    monkeypatch.setattr(_rows, "_batch", SimpleNamespace(assess_buffers=lambda *args, **kwargs: {
        name: values for name, values in real(*args, **kwargs).items() if name != "dialect"}))
    assert assess_column(texts).to_pylist() == native


def test_objects_of_each_entry_are_the_commands_object_rows():
    from tessera_cli.objects import object_rows
    from tessera_spark._objects import object_column

    procedure = "CREATE PROCEDURE dbo.p AS\r\nBEGIN\r\n  SELECT 1;\r\nEND\r\nGO\r\nCREATE VIEW v AS SELECT 2\r\n"
    texts = [procedure, None, "", "SELECT 1", "CREATE TABLE t (x int)\rCREATE TABLE u (y int)", "CREATE TABLE \xe9 (x int)"]
    whole = pa.array(texts, pa.large_string())
    for array in (whole, whole.slice(2, 3), pa.array([None if t is None else t.encode() for t in texts], pa.binary())):
        found = object_column(array, assess_column(array).column("error")).to_pylist()
        expected = [
            None if text is None else
            [{k: v for k, v in row.items() if k not in ("row", "path")}
             # Line ends are the command's: a lone CR ends a line, as in a file.
             for row in object_rows("x", text.replace("\r\n", "\n").replace("\r", "\n"))]
            for text in texts
        ][array.offset:array.offset + len(array)]
        assert found == expected
    assert [o["name"] for o in object_column(whole, assess_column(whole).column("error"))[0].as_py()] == ["dbo.p", "v"]
    assert [len(o) for o in object_column(whole, assess_column(whole).column("error")).to_pylist()[2:]] == [0, 0, 2, 1]

    # A row that failed has no objects, not an empty list.
    bad = pa.array([b"CREATE VIEW v AS SELECT '\xe9'"], pa.binary())
    assert object_column(bad, assess_column(bad).column("error")).to_pylist() == [None]
