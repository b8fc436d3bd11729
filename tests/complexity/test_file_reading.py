"""Both file entry points read plain pathlib paths directly rather than through read_text. What they
see must be exactly what read_text(encoding="utf-8") gives, and every failure must still be the
host's own exception."""

import pathlib
import subprocess
import sys
import textwrap

import pytest

import agents.tessera.complexity as cx

BODIES = {
    "crlf": b"SELECT 1\r\nGO\r\n",
    "lone_cr": b"SELECT 1\rGO\r\rMERGE t\r",
    "mixed": b"a\r\n\r\rb\n\r\nc\r",
    "cr_last": b"x\r",
    "crlf_split_at_end": b"\r\n\r",
    "bom": b"\xef\xbb\xbfSELECT 1\r\n",
    "ucs2": "SELECT '\u0100'\r\n\u2028GO\r\n".encode(),
    "ucs4": "SELECT '\U0001f600'\r\n".encode() * 40,
    "empty": b"",
    "nul_and_controls": "\x00\x0b\x0c\x1c\x85\r".encode(),
}


@pytest.mark.parametrize("body", BODIES.values(), ids=BODIES.keys())
def test_direct_read_sees_what_read_text_gives(tmp_path, body):
    path = tmp_path / "script.sql"
    path.write_bytes(body)
    expected = path.read_text(encoding="utf-8")
    assert cx.classify_sql_file(path) == cx.classify_sql(expected)
    assert cx.plan_reading_strategy(path).total_lines == len(expected.splitlines())


def test_large_crlf_file_planned_as_its_text(tmp_path):
    path = tmp_path / "big.sql"
    lines = [f"SELECT {i} FROM t\u00e9" if i % 97 else "GO" for i in range(6000)]
    path.write_bytes("\r\n".join(lines).encode())
    direct = cx.plan_reading_strategy(path)
    through_read_text = cx.plan_reading_strategy(Wrapped(path))
    assert direct == through_read_text
    assert direct.should_chunk and direct.total_lines == 6000


class Wrapped:
    """Not a pathlib path, so it is read through its read_text."""

    def __init__(self, path):
        self.path = path

    def read_text(self, encoding):
        return self.path.read_text(encoding=encoding)


@pytest.mark.parametrize("entry", [cx.classify_sql_file, cx.plan_reading_strategy])
def test_failures_are_read_texts_own(tmp_path, entry):
    bad = tmp_path / "latin1.sql"
    bad.write_bytes(b"SELECT 1\r\n'\xe9'")
    cases = [tmp_path / "missing.sql", tmp_path, bad, pathlib.Path("nul\x00byte.sql")]
    for path in cases:
        with pytest.raises(Exception) as expected:
            path.read_text(encoding="utf-8")
        with pytest.raises(type(expected.value)) as got:
            entry(path)
        assert str(got.value) == str(expected.value)


def test_a_replaced_read_text_or_open_is_called(tmp_path, monkeypatch):
    path = tmp_path / "script.sql"
    path.write_text("SELECT 1")
    seen = []
    original_open = pathlib.Path.open

    def open_spy(self, *args, **kwargs):
        seen.append("open")
        return original_open(self, *args, **kwargs)

    monkeypatch.setattr(pathlib.Path, "open", open_spy)
    cx.classify_sql_file(path)
    cx.plan_reading_strategy(path)
    assert seen == ["open", "open"]

    monkeypatch.setattr(pathlib.Path, "read_text", lambda self, encoding: "MERGE t")
    assert cx.classify_sql_file(path).complexity == cx.SQLComplexity.COMPLEX


def test_path_subclass_goes_through_its_read_text(tmp_path):
    class Upper(type(pathlib.Path())):
        def read_text(self, encoding=None):
            return super().read_text(encoding=encoding).upper()

    path = Upper(tmp_path / "script.sql")
    path.write_text("merge t")
    assert cx.classify_sql_file(path).complexity == cx.SQLComplexity.COMPLEX


def test_each_read_is_announced_once_and_a_refusing_hook_stops_it(tmp_path):
    # Audit hooks can't be removed, so they are tried in a process of their own.
    path = tmp_path / "script.sql"
    path.write_text("SELECT 1")
    code = textwrap.dedent(
        f"""
        import pathlib, sys
        import agents.tessera.complexity as cx
        path = pathlib.Path({str(path)!r})
        opened = []
        refuse = False
        def hook(event, args):
            if event == "open" and args[0] == str(path):
                opened.append(args)
                if refuse:
                    raise PermissionError("refused by policy")
        sys.addaudithook(hook)
        cx.classify_sql_file(path)
        cx.plan_reading_strategy(path)
        path.read_text(encoding="utf-8")
        assert opened[0] == opened[1] == opened[2], opened
        assert len(opened) == 3, opened
        refuse = True
        try:
            cx.classify_sql_file(path)
        except PermissionError as error:
            print(error)
        """
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[-1] == "refused by policy"


def test_the_announcement_comes_before_the_read_and_a_failed_read_is_announced_once(tmp_path):
    # A hook that rewrites the file when it hears of it shows whether the file was read before.
    path = tmp_path / "script.sql"
    path.write_text("SELECT 1")
    bad = tmp_path / "latin1.sql"
    bad.write_bytes(b"SELECT 1\r\n'\xe9'")
    code = textwrap.dedent(
        f"""
        import pathlib, sys
        import agents.tessera.complexity as cx
        path, bad = pathlib.Path({str(path)!r}), pathlib.Path({str(bad)!r})
        heard = []
        def hook(event, args):
            if event == "open" and args[0] in (str(path), str(bad)) and args[1] == "r":
                heard.append(args[0])
                if args[0] == str(path):
                    path.write_text("MERGE t")
        sys.addaudithook(hook)
        print(cx.classify_sql_file(path).complexity)
        try:
            cx.plan_reading_strategy(bad)
        except UnicodeDecodeError as error:
            print(error.start, error.end, error.object == bad.read_bytes())
        print(heard == [str(path), str(bad), str(bad)])
        """
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[-3:] == ["complex", "11 12 True", "True"]
