"""Which files make up an estate, and in which order: the lazy listing against the plain
"gather everything, then sort" it replaces."""

import fnmatch
import os
from collections import Counter
from pathlib import Path

import pytest

from tessera_cli.estate import SQL_EXTENSIONS, discover, shown


def _reference(roots: list[str], patterns: list[str] | None) -> tuple[list[str], Counter]:
    """Every match under the roots, gathered whole and sorted by shown path; the other files
    counted by extension."""
    def matches(name: str) -> bool:
        if patterns:
            return any(fnmatch.fnmatchcase(name.lower(), p.lower()) for p in patterns)
        return os.path.splitext("x" + name)[1].lower() in SQL_EXTENSIONS or name.lower() in SQL_EXTENSIONS

    found, skipped = set(), Counter()
    for given in roots:
        root = Path(given)
        if not root.is_dir():
            found.add(shown(root))
            continue
        for folder, dirnames, filenames in os.walk(root):
            for name in dirnames + filenames:
                if matches(name):
                    found.add(shown(Path(folder, name)))
                elif name in filenames:
                    skipped[os.path.splitext(name)[1].lower() or "(none)"] += 1
    return sorted(found), skipped


@pytest.fixture
def estate(tmp_path):
    """Names chosen to catch a listing whose order is not the order of whole paths: siblings that
    sort between a folder's name and its contents, a folder named like a script, every extension
    in mixed case, non-UTF-8 bytes, files that are not scripts."""
    root = tmp_path / "estate"
    for relative in [
        "a.sql", "a-b.sql", "a/x.sql", "a/b/deep.SQL", "a.b/y.Hql", "a0.q",
        "Z.BTQ", "pkg/body.PKB", "pkg/spec.pks", "pkg/old.sql.bak", "pkg/notes.md", "pkg/README",
        "views/v1.vw", "views/t.trg", "views/p.prc", "views/f.fnc", "etl/load.bteq", "etl/run.plsql",
        "etl/x.ddl", "etl/y.dml", "etl/z.pls", "etl/w.pck", "etl/q.txt",
    ]:
        path = root / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text("SELECT 1")
    (root / "dir.sql").mkdir()
    (root / "dir.sql" / "inner.sql").write_text("SELECT 1")
    (root / "linked.sql").symlink_to(root / "a")  # a link to a folder: listed, not followed
    os.makedirs(os.fsencode(root) + b"/caf\xe9", exist_ok=True)
    with open(os.fsencode(root) + b"/caf\xe9/r\xe9sum\xe9.sql", "w") as stream:
        stream.write("SELECT 1")
    return root


@pytest.mark.parametrize("patterns", [None, ["*.SQL"], ["*.sql", "*.pk?"], ["A*"]])
def test_the_lazy_listing_finds_what_a_whole_gathering_finds_in_the_same_order(estate, patterns):
    skipped = Counter()
    listed = [t.display for t in discover([str(estate)], patterns, skipped)]
    expected, expected_skipped = _reference([str(estate)], patterns)
    assert listed == expected
    assert skipped == expected_skipped


def test_every_sql_extension_is_taken_whatever_its_case_and_the_rest_counted(estate):
    skipped = Counter()
    names = {Path(t.display).name for t in discover([str(estate)], None, skipped)}
    assert {"deep.SQL", "y.Hql", "a0.q", "Z.BTQ", "body.PKB", "load.bteq", "run.plsql", "dir.sql"} <= names
    assert not names & {"old.sql.bak", "notes.md", "README", "q.txt"}
    assert skipped == Counter({".bak": 1, ".md": 1, "(none)": 1, ".txt": 1})


def test_several_roots_merge_in_order_and_overlapping_roots_list_each_file_once(estate, monkeypatch):
    monkeypatch.chdir(estate)
    merged = [t.display for t in discover(["views", "etl", "a.sql"])]
    assert merged == sorted(merged)
    assert "a.sql" in merged and "views/v1.vw" in merged and "etl/x.ddl" in merged
    # A folder, a folder inside it and a file inside that: each file once, under the first name.
    overlapping = [t.display for t in discover(["a/b/deep.SQL", "a", "a/b", "./a"])]
    assert overlapping == ["a/b/deep.SQL", "a/x.sql"]


def test_a_missing_root_is_a_target_and_an_unlistable_folder_is_reported(estate, monkeypatch):
    monkeypatch.chdir(estate)
    targets = list(discover(["nowhere.sql"]))
    assert [(t.display, t.error) for t in targets] == [("nowhere.sql", None)]

    def refuse(path):
        raise PermissionError(13, "Permission denied", path)

    real = os.scandir
    monkeypatch.setattr(os, "scandir", lambda path: refuse(path) if str(path).endswith("pkg") else real(path))
    listed = {t.display: t.error for t in discover(["."])}
    assert listed["pkg"] == "cannot list directory: permission denied"
    assert "pkg/body.PKB" not in listed
