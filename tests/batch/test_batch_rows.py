"""The native batch against the per-file path it replaces: the same row for every file, whatever
its bytes, in the items' order, with memory bounded by the window and workers by the cores."""

import array
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest
from hypothesis import given
from hypothesis import strategies as st

from agents.tessera import _batch
from tessera_cli.estate import REPORT_FIELDS, Target, assess_file

ROOT = Path(__file__).resolve().parents[2]
CORPUS = Path(os.environ.get("TESSERA_CORPUS", ROOT.parent / "shared" / "corpus"))


def per_file(path: Path | str, key: str) -> tuple:
    """The per-file path's row, in the native row's columns (the report may have more, which the
    command fills in itself)."""
    report = assess_file(Target(path, key))
    return tuple(getattr(report, name) for name in _batch.COLUMNS)


def batch(paths, jobs=2) -> list[tuple]:
    return list(_batch.assess_paths(((str(p), os.fsencode(p)) for p in paths), jobs=jobs))


def test_the_native_rows_carry_every_report_field_in_report_order():
    # The command's fast path (rows straight from the batch) depends on this.
    assert _batch.COLUMNS == REPORT_FIELDS


@pytest.mark.skipif(not CORPUS.is_dir(), reason=f"no corpus at {CORPUS} (set TESSERA_CORPUS)")
@pytest.mark.parametrize("jobs", [1, 3])
def test_every_corpus_file_gets_the_row_of_the_per_file_path(jobs):
    # Every file, whatever its extension: the documents and odd dialects too.
    files = sorted(p for p in CORPUS.rglob("*") if p.is_file())
    assert len(files) > 1000
    rows = batch(files, jobs)
    assert len(rows) == len(files)
    for path, row in zip(files, rows):
        assert row == per_file(path, str(path)), path


# Bytes a script may hold: plain SQL, every kind of line end, a byte-order mark, characters of
# each width, and the sequences a strict decoder refuses (lone continuation bytes, overlong forms,
# surrogates, past U+10FFFF, cut short).
PIECES = [
    b"SELECT a FROM t", b" MERGE ", b"CREATE PROCEDURE p AS", b"\nGO\n", b"-- note\n", b"/* x */",
    b"\r\n", b"\r", b"\n", b"\xef\xbb\xbf", "é".encode(), "ÿ".encode(), "Ā".encode(), "€".encode(),
    "😀".encode(), b"\x80", b"\xc0\xaf", b"\xc1\xbf", b"\xe0\x80\xaf", b"\xed\xa0\x80", b"\xf4\x90\x80\x80",
    b"\xf5", b"\xff", b"\xe2\x82", b"\xf0\x9f\x98", b"#tmp ", b"WITH c AS (", b"\t", b" ",
]


@given(st.lists(st.sampled_from(PIECES), max_size=40))
def test_any_bytes_give_the_row_and_reason_of_the_per_file_path(tmp_path_factory, pieces):
    path = tmp_path_factory.mktemp("bytes") / "script.sql"
    data = b"".join(pieces)
    path.write_bytes(data)
    row = batch([path], jobs=1)[0]
    assert row == per_file(path, str(path))
    # The same bytes held in a buffer instead of a file.
    columns = _batch.assess_buffers(data, array.array("i", [0, len(data)]))
    assert tuple(columns[name][0] if name != "categories" else _tuple(columns[name][0])
                 for name in _batch.COLUMNS[1:]) == row[1:]


def _tuple(value):
    return None if value is None else tuple(value)


def test_files_that_cannot_be_read_get_the_per_file_reasons(tmp_path):
    (tmp_path / "folder.sql").mkdir()
    (tmp_path / "dangling.sql").symlink_to(tmp_path / "gone.sql")
    os.mkfifo(tmp_path / "pipe.sql")  # opened without blocking, refused as not a regular file
    (tmp_path / "empty.sql").write_bytes(b"")
    paths = [tmp_path / n for n in ("folder.sql", "dangling.sql", "pipe.sql", "empty.sql", "missing.sql")]
    if os.geteuid() == 0 and Path("/proc/self/mem").exists():
        paths.append(Path("/proc/self/mem"))  # a read that fails after the open
    rows = batch(paths)
    assert rows == [per_file(p, str(p)) for p in paths]
    assert [row[-1] for row in rows[:5]] == [
        "is a directory", "no such file or directory", "not a regular file", None, "no such file or directory",
    ]


def test_rows_keep_the_items_order_and_carry_known_reasons(tmp_path):
    names = [f"{i:04d}.sql" for i in range(600)]
    for i, name in enumerate(names):
        # Sizes that vary, so that the workers finish out of order.
        (tmp_path / name).write_text("SELECT 1;\n" * (1 + (i * 7919) % 400))
    items = [(name, os.fsencode(tmp_path / name)) for name in names]
    items.insert(300, ("unlisted", "cannot list directory: permission denied"))
    expected = [per_file(tmp_path / name, name) for name in names]
    expected.insert(300, ("unlisted",) + (None,) * (len(_batch.COLUMNS) - 2) + ("cannot list directory: permission denied",))
    for jobs in (1, 2, 1000):
        assert list(_batch.assess_paths(items, jobs=jobs)) == expected


def test_items_are_taken_a_window_ahead_not_the_estate(tmp_path):
    script = tmp_path / "a.sql"
    script.write_text("SELECT 1")
    taken = 0

    def items():
        nonlocal taken
        for i in range(100_000):
            taken += 1
            yield i, os.fsencode(script)

    rows = _batch.assess_paths(items(), jobs=4)
    assert next(rows)[0] == 0
    assert 0 < taken <= 4096
    rows.close()
    assert list(rows) == []


def test_workers_are_at_most_four_per_core(tmp_path):
    cores = len(os.sched_getaffinity(0))
    assert _batch.workers_for(1) == 1
    assert _batch.workers_for(1000) == _batch.workers_for(10**30) == min(1000, 4 * cores)
    script = tmp_path / "a.sql"
    script.write_text("SELECT 1")
    before = len(os.listdir("/proc/self/task"))
    rows = _batch.assess_paths(((i, os.fsencode(script)) for i in range(100)), jobs=1000)
    next(rows)
    assert rows.workers == 4 * cores
    assert len(os.listdir("/proc/self/task")) - before <= 4 * cores
    rows.close()
    assert len(os.listdir("/proc/self/task")) == before
    # One job runs on the calling thread.
    assert _batch.assess_paths([], jobs=1).workers == 0


def test_a_bad_item_or_failing_iterable_ends_the_rows_after_those_before_it(tmp_path):
    script = tmp_path / "a.sql"
    script.write_text("SELECT 1")

    def failing():
        yield "a", os.fsencode(script)
        yield "b", os.fsencode(script)
        raise OSError("listing failed")

    rows = _batch.assess_paths(failing(), jobs=2)
    assert [next(rows)[0], next(rows)[0]] == ["a", "b"]
    with pytest.raises(OSError, match="listing failed"):
        next(rows)
    for bad, error in [
        ([("a", b"x\0y")], ValueError),
        ([("a", Path("x"))], TypeError),
        (["a.sql"], TypeError),
        ([("a", "")], ValueError),
    ]:
        with pytest.raises(error):
            list(_batch.assess_paths(bad))
    with pytest.raises(ValueError, match="jobs must be at least 1"):
        _batch.assess_paths([], jobs=0)
    with pytest.raises(TypeError):
        _batch.Rows()


def test_buffers_of_an_arrow_array_are_read_in_place_with_nulls_slices_and_wide_offsets():
    scripts = [b"SELECT 1", b"", b"MERGE t USING s ON 1=1\r\nWHEN MATCHED THEN DELETE;", b"caf\xe9", b"x", b"SELECT 2"]
    data = b"".join(scripts)
    ends = [0]
    for script in scripts:
        ends.append(ends[-1] + len(script))
    # Entry 4 is null: its bytes are there but must not be looked at.
    validity = bytes([0b11101111])
    expected_errors = [None, None, None, "not valid UTF-8 (byte 0xe9 at offset 3)", "null", None]
    for offsets, wide in [(array.array("i", ends), False), (memoryview(array.array("q", ends)), True)]:
        columns = _batch.assess_buffers(data, offsets, validity, offsets_64=wide)
        assert list(columns) == list(_batch.COLUMNS[1:])
        assert columns["error"] == expected_errors
        assert columns["bytes"][:3] == [8, 0, len(scripts[2])]
        assert columns["empty"][:2] == [False, True]
        assert columns["grade"][2] == "complex" and columns["total_lines"][2] == 2
        assert columns["categories"][0] == ["query"]
        # A slice shares its parent's buffers: offset counts entries, and bits of the bitmap.
        part = _batch.assess_buffers(data, offsets, validity, offsets_64=wide, offset=3, length=2, jobs=2)
        assert part["error"] == expected_errors[3:5]

    many = _batch.assess_buffers(b"SELECT 1" * 5000, array.array("i", range(0, 40001, 8)), jobs=3)
    assert many["grade"] == ["simple"] * 5000

    with pytest.raises(ValueError, match="whole number"):
        _batch.assess_buffers(data, b"\0\0\0")
    with pytest.raises(ValueError, match="entry 0 spans"):
        _batch.assess_buffers(data, array.array("i", [0, len(data) + 1]))
    with pytest.raises(ValueError, match="entry 1 spans"):
        _batch.assess_buffers(data, array.array("i", [0, 5, 3]))
    with pytest.raises(ValueError, match="validity"):
        _batch.assess_buffers(data, array.array("i", ends), b"")
    with pytest.raises(ValueError, match="fewer than offset"):
        _batch.assess_buffers(data, array.array("i", ends), length=10)
    with pytest.raises(TypeError, match="data must be a contiguous buffer"):
        _batch.assess_buffers("SELECT 1", array.array("i", [0, 8]))


# One script per platform, each given a character of every storage width (Latin-1, the BMP beyond
# it, astral) in a comment and in a literal, so the detector reads each script in all three forms.
@pytest.mark.skipif(not CORPUS.is_dir(), reason=f"no corpus at {CORPUS} (set TESSERA_CORPUS)")
def test_the_dialect_of_each_storage_width_is_the_per_file_answer(tmp_path):
    folders = sorted(folder for folder in (CORPUS / "dialects").iterdir() if folder.is_dir())
    scripts = [min(path for path in folder.rglob("*") if path.is_file()) for folder in folders]
    paths = []
    for script in scripts:
        text = script.read_bytes()
        for char in ("é", "€", "😀"):
            path = tmp_path / f"{script.parent.name}-{ord(char):x}.sql"
            path.write_bytes(f"-- {char}\n".encode() + text + f"\nSELECT '{char}';\n".encode())
            paths.append(path)
    rows = batch(paths, jobs=2)
    expected = [per_file(p, str(p)) for p in paths]
    assert rows == expected
    at = _batch.COLUMNS.index("dialect")
    # Scripts of several platforms, so the platform's index maps to the right name.
    assert len({row[at] for row in rows}) >= 5
    data = b"".join(p.read_bytes() for p in paths)
    ends = [0]
    for p in paths:
        ends.append(ends[-1] + p.stat().st_size)
    columns = _batch.assess_buffers(data, array.array("q", ends), offsets_64=True, jobs=2)
    assert columns["dialect"] == [row[at] for row in rows]


DETECTOR_STUB = """
from types import SimpleNamespace

class DialectVerdict:
    pass

def detect_dialect(text):
    return SimpleNamespace(platform="stub" if "GO" in text else None)
"""


@pytest.mark.parametrize("capsule", [
    "",  # a module that exports no detector
    "import datetime\n_DETECTOR = datetime.datetime_CAPI\n",  # a capsule of another name: refused
])
def test_without_a_usable_detector_the_dialect_is_asked_in_python(tmp_path, capsule):
    stub = tmp_path / "agents" / "tessera" / "dialect_detect.py"
    stub.parent.mkdir(parents=True)
    stub.write_text(DETECTOR_STUB + capsule)
    for name, text in [("a.sql", "SELECT 1\nGO\n"), ("b.sql", "SELECT 1\n"), ("c.sql", b"\xff")]:
        (tmp_path / name).write_bytes(text if isinstance(text, bytes) else text.encode())
    # Namespace packages: the stub, first on the path, shadows the installed module; the rest of
    # agents.tessera still comes from the installation.
    script = f"""
import json, os, sys
sys.path.insert(0, {str(tmp_path)!r})
from agents.tessera import _batch
from tessera_cli.estate import discover
from tessera_cli.rows import assess_rows
rows = list(assess_rows(discover([{str(tmp_path)!r}], "*.sql"), 2))
print(json.dumps([list(_batch.COLUMNS), [row[-2:] for row in rows],
                  sorted(_batch.assess_buffers(b"SELECT 1", b"\\0\\0\\0\\0\\x08\\0\\0\\0"))]))
"""
    proc = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    columns, tails, buffer_columns = json.loads(proc.stdout)
    assert "dialect" not in columns and "dialect" not in buffer_columns
    assert columns == [name for name in REPORT_FIELDS if name != "dialect"]
    assert tails == [["stub", None], ["undecided", None], [None, "not valid UTF-8 (byte 0xff at offset 0)"]]


def test_a_dialect_detect_that_cannot_load_leaves_the_batch_working(tmp_path):
    # A host's dialect_probe without the platform constants: dialect_detect fails to load, the
    # batch does not.
    probe = tmp_path / "agents" / "tessera" / "dialect_probe.py"
    probe.parent.mkdir(parents=True)
    probe.write_text("class Marker:\n    pass\n")
    script = f"""
import json, sys
sys.path.insert(0, {str(tmp_path)!r})
from agents.tessera import _batch
print(json.dumps(_batch.assess_buffers(b"SELECT 1", b"\\0\\0\\0\\0\\x08\\0\\0\\0")))
"""
    proc = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    columns = json.loads(proc.stdout)
    assert "dialect" not in columns and columns["grade"] == ["simple"] and columns["error"] == [None]
