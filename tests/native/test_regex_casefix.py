"""The matcher's table of extra case equivalents must be the interpreter's own: IGNORECASE matching of
'ı', 'ſ', 'K' (Kelvin) and the Greek and Cyrillic variants depends on it, and a table generated from
another CPython release would silently disagree with `re`."""

import re
from pathlib import Path

from re._casefix import _EXTRA_CASES

SOURCE = Path(__file__).resolve().parents[2] / "native" / "regex" / "regex_casefix.cpp"
ROW = re.compile(r"\{0x([0-9a-f]+), \{0x([0-9a-f]+), 0x([0-9a-f]+)\}\},")


def native_table():
    table = {}
    for lower, a, b in ROW.findall(SOURCE.read_text(encoding="utf-8")):
        table[int(lower, 16)] = tuple(int(x, 16) for x in (a, b) if int(x, 16))
    return table


def test_table_equals_the_interpreters():
    assert native_table() == _EXTRA_CASES


def test_rows_are_sorted_for_binary_search():
    keys = [int(k, 16) for k, _, _ in ROW.findall(SOURCE.read_text(encoding="utf-8"))]
    assert keys == sorted(set(keys))
