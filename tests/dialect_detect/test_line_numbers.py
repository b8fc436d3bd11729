"""An evidence's line is the line of str.splitlines that holds the start of its match: every boundary
splitlines breaks at counts, a "\\r\\n" once, and a match that starts on the "\\n" of a "\\r\\n" is on the
line the pair ends. The boundaries between one piece of evidence and the next are counted many characters
at a time, so the cases put boundaries on both sides of every vector block edge, in each storage width,
on every instruction-set path."""

import json
import subprocess
import sys
import textwrap

from hypothesis import given
from hypothesis import strategies as st

from agents.tessera import _matcher
from agents.tessera.dialect_detect import detect_dialect

LATIN1_BREAKS = ["\n", "\r", "\r\n", "\n\r", "\v", "\f", "\x1c", "\x1d", "\x1e", "\x85"]
BREAKS = LATIN1_BREAKS + ["\u2028", "\u2029"]
# Evidence whose match starts at the first occurrence of its word (the filler holds none of them).
PROBES = {"sqlserver.isnull_function": "ISNULL(a, 0)", "sqlserver.getdate": "GETDATE()", "oracle.nvl_function": "NVL(b, 1)"}
# Storage widths: as the characters ask, two bytes (a byte-order mark) and four.
WIDTHS = ["", "\ufeff", "\U0001f600"]


def splitlines_line(text, pos):
    """The 1-based line of str.splitlines(keepends=True) that holds text[pos]."""
    end = 0
    for number, line in enumerate(text.splitlines(keepends=True), 1):
        end += len(line)
        if pos < end:
            return number
    return number + 1


def lines_on_every_path(text):
    """{id: line} of the probes' evidence, the same on every instruction-set path."""
    seen = []
    for isa in _matcher.available_isas():
        _matcher.force_isa(isa)
        try:
            found = {e.id: e.line for e in detect_dialect(text).evidence if e.id in PROBES}
        finally:
            _matcher.force_isa(None)
        seen.append(found)
    assert all(s == seen[0] for s in seen[1:]), dict(zip(_matcher.available_isas(), seen))
    return seen[0]


def expected_lines(text):
    return {ident: splitlines_line(text, text.index(probe.partition("(")[0])) for ident, probe in PROBES.items()}


filler = st.lists(st.sampled_from(BREAKS + ["x", " ", "y1 ", "z" * 40]), max_size=120).map("".join)


@given(
    pieces=st.lists(filler, min_size=4, max_size=4),
    width=st.sampled_from(WIDTHS),
)
def test_lines_of_evidence_follow_splitlines(pieces, width):
    probes = list(PROBES.values())
    text = width + "".join(piece + " " + probe + " " for piece, probe in zip(pieces, probes)) + pieces[-1]
    assert lines_on_every_path(text) == expected_lines(text)


def test_boundaries_on_both_sides_of_every_block_edge():
    # A boundary, or a "\r\n" split between two blocks, at every offset of the first 70 characters, and
    # the evidence right after it or a few blocks on; in one-byte text only the Latin-1 boundaries.
    for width in WIDTHS:
        for brk in BREAKS if width else LATIN1_BREAKS:
            for at in range(70):
                for gap in ("", " ", "x" * 33):
                    text = width + "x" * at + brk + gap + "SELECT ISNULL(a, 0) " + brk * 3 + "x" * at + " NVL(b, 1)" + brk + "GETDATE()"
                    assert lines_on_every_path(text) == expected_lines(text), (width, brk, at, gap)


def test_long_texts_count_every_boundary_kind():
    # Thousands of blocks between hits, each kind of boundary thousands of times, the last evidence at
    # the very end of the text (nothing after it to read).
    for width in WIDTHS:
        body = "".join(f"{'x' * (k % 37)}{BREAKS[k % len(BREAKS)]}" for k in range(20_000))
        text = width + "ISNULL(a, 0)\r\n" + body + " NVL(b, 1)" + body + "\r\nGETDATE()"
        assert lines_on_every_path(text) == expected_lines(text)
        assert lines_on_every_path(text)["sqlserver.getdate"] == len(text.splitlines())


# No marker of the shipped catalogue can start on a "\n" ("^" cannot stand there after a "\r"), a host's
# may: loaded with such a catalogue in a fresh interpreter.
HOST_CATALOGUE = '''
from agents.tessera.dialect_probe import Marker, PLATFORM_SQLSERVER
PLATFORM_MARKERS = [Marker(id="host.newline_go", platforms=[PLATFORM_SQLSERVER], confidence="high",
                           pattern=r"\\n[ \\t]*GO\\b")]
'''
HOST_SCRIPT = '''
import json, logging, sys
import structlog
structlog.configure(wrapper_class=structlog.make_filtering_bound_logger(logging.INFO))
sys.path.insert(0, {root!r})
from agents.tessera import _matcher
from agents.tessera.dialect_detect import detect_dialect
out = []
for text in json.loads(sys.stdin.read()):
    lines = set()
    for isa in _matcher.available_isas():
        _matcher.force_isa(isa)
        lines.add(tuple(e.line for e in detect_dialect(text).evidence if e.id == "host.newline_go"))
    out.append(sorted(lines))
print(json.dumps(out))
'''


def test_a_match_on_the_newline_of_a_crlf_is_on_the_line_the_pair_ends(tmp_path):
    catalogue = tmp_path / "agents" / "tessera" / "dialect_signatures.py"
    catalogue.parent.mkdir(parents=True)
    catalogue.write_text(HOST_CATALOGUE)
    cases = []
    for width in WIDTHS:
        for at in range(0, 70, 3):
            head = width + "x" * at
            cases.append((head + "SELECT 1\r\nGO\r\n", 1))
            cases.append((head + "SELECT 1\r\n\r\n  GO\r\n", 2))
            cases.append((head + "SELECT 1\n\nGO\n", 2))
            cases.append((head + "SELECT 1\r\rGO\n", None))
    run = subprocess.run([sys.executable, "-c", HOST_SCRIPT.format(root=str(tmp_path))], input=json.dumps([t for t, _ in cases]),
                         capture_output=True, text=True, timeout=120, cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    for (text, line), got in zip(cases, json.loads(run.stdout)):
        assert got == [[line] if line else []], text
