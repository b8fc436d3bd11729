"""Grading each object, and the object-aware reading plan: grades equal classify_sql on the object's own
lines; plans cover every line after the first read once, never exceed the reader's limit, and follow the
objects."""

import dataclasses
import re

import pytest
from hypothesis import given
from hypothesis import strategies as st

from agents.tessera import _matcher
from agents.tessera.complexity import ComplexityResult, classify_sql, plan_reading_strategy
from agents.tessera.inventory import (
    GradedObject,
    ObjectReadingPlan,
    _find_objects_line_by_line,
    find_objects,
    format_object_reading_instructions,
    grade_objects,
    plan_object_reading,
    plan_object_reading_file,
)

from .conftest import CORPUS

LARGE = sorted((CORPUS / "tsql-large").glob("*.sql")) if CORPUS else []


def own_lines(text, o):
    return "".join(text.splitlines(keepends=True)[o.first_line - 1 : o.last_line]).rstrip("\r\n\x0b\x0c\x1c\x1d\x1e\x85\u2028\u2029")


def check_grades(text):
    graded = grade_objects(text)
    assert [g.object for g in graded] == find_objects(text)
    for g in graded:
        assert isinstance(g, GradedObject) and type(g.result) is ComplexityResult
        assert g.result == classify_sql(own_lines(text, g.object))


@pytest.mark.skipif(not LARGE, reason="corpus not present beside the checkout")
@pytest.mark.parametrize("path", LARGE, ids=lambda p: p.name)
def test_corpus_grades_equal_classify_sql_on_the_objects_lines(path):
    check_grades(path.read_text(encoding="utf-8"))


@pytest.mark.parametrize("padding", [0, 40, 70])
def test_literal_holding_line_breaks_of_every_kind(padding):
    # Lines inside a literal are counted whichever way the scan takes it.
    text = " " * padding + "CREATE PROCEDURE p AS SELECT '\n\r \r\n\x0b\u2028'\nCREATE PROCEDURE q AS SELECT 1\n" * 3
    check_grades(text)
    check_both_scans(text)
    assert [o.first_line for o in find_objects(text)] == [1, 7, 8, 14, 15, 21]


def test_objects_are_graded_apart_from_the_file():
    procedure = "CREATE PROCEDURE dbo.p{n} AS\nBEGIN\n" + "  UPDATE t SET a = 1\n" * 60 + "END\nGO\n"
    text = procedure.format(n=1) + "CREATE VIEW v AS SELECT 1\nGO\n" + procedure.format(n=2).replace("UPDATE", "MERGE")
    # A comment that opens in one object and closes in the next is cut where the objects are.
    text += "CREATE VIEW w AS SELECT 1 /* open\nGO\nCREATE VIEW x AS SELECT 2 -- close */\n"
    check_grades(text)
    grades = [g.result.complexity for g in grade_objects(text)]
    # The comment holds the GO and the second view: one object.
    assert grades == ["moderate", "simple", "complex", "simple"]
    assert classify_sql(text).complexity == "complex"


SQL_PIECES = st.sampled_from([
    "CREATE PROCEDURE dbo.p AS", "ALTER PROCEDURE p AS", "create or replace function f() returns int as $$",
    "$$;", "$x$", "GO", "go 3", "/", "CREATE TABLE #t (a int)", "CREATE VIEW v AS", "REPLACE MACRO m AS (",
    ");", "END;", "SELECT 'a''b' AS x;", "'", '"', "[", "]", "`", "--", "/*", "*/", "(", ")", ";", "BEGIN",
    "INSERT #t SELECT 1", "IF @x = 1", "  SET @y = 2;", "", "   ", "é", "\u2028", "\r", "\x0c", "\x85", "\\'s", "'C:\\'", "''", "]]", " " * 40,
])


@st.composite
def scripts(draw):
    lines = draw(st.lists(st.lists(SQL_PIECES, max_size=4).map(" ".join), max_size=60))
    return draw(st.sampled_from(["\n", "\r\n"])).join(lines)


@given(scripts())
def test_objects_never_overlap_and_lie_in_the_file(text):
    total = len(text.splitlines())
    previous = 0
    for o in find_objects(text):
        assert previous < o.first_line <= o.last_line <= total
        previous = o.last_line


def check_both_scans(text):
    # The bulk scan takes lines 64 characters at a time; the planner's visits each one.
    assert find_objects(text) == _find_objects_line_by_line(text)


@given(scripts(), st.sampled_from(["", "\ufeff", "\u0100", "\U0001f600"]))
def test_bulk_and_line_by_line_scans_agree(text, wide):
    check_both_scans(text)
    check_both_scans(wide + text)
    check_both_scans(text.replace("\n", "\n" + " " * 30))


@pytest.mark.parametrize("boundary", ["\r", "\r\n", "\n", "\x0b", "\x1c", "\x85"])
@pytest.mark.parametrize("padding", [0, 20, 50, 60])
def test_line_comment_after_code_ends_at_any_line_boundary(boundary, padding):
    # However the 64-character blocks fall, the comment ends at its line's boundary, and a head
    # that follows on the next line starts an object.
    text = " " * padding + "CREATE VIEW v AS SELECT 1 -- 'note' [x]" + boundary + "CREATE VIEW w AS SELECT 2\n" + "-" * 70 + "\n"
    check_both_scans(text)
    assert [(o.name, o.first_line) for o in find_objects(text)] == [("v", 1), ("w", 2)]


@pytest.mark.skipif(not CORPUS, reason="corpus not present beside the checkout")
@pytest.mark.parametrize("isa", _matcher.available_isas())
def test_bulk_and_line_by_line_scans_agree_on_the_corpus(isa, force_isa):
    # Each instruction-set path classifies the 64-character blocks its own way; four-byte text takes
    # the bulk path too wherever a block stays within Latin-1.
    force_isa(isa)
    for path in sorted(CORPUS.rglob("*.sql")):
        text = path.read_text(encoding="utf-8", errors="replace")
        check_both_scans(text)
        if len(text) < 50_000:
            check_both_scans("\U0001f600" + text)
            check_both_scans(text.replace("\n", "\u2014\n", 3))


# What hides a batch separator or a head from the scan, and what does not, each placed at every offset
# of a 64-character block (the bulk path follows single-quoted literals across blocks by the parity of
# their quotes, and takes line comments and bracketed names in bulk where it can).
HIDING = {
    "doubled quote in a literal": ("SELECT 'it''s\nGO\nCREATE VIEW v AS SELECT 1'", ["p", "w"]),
    "literal ending in a backslash": ("SELECT 'C:\\' AS d\nGO\nCREATE VIEW v AS SELECT 1", ["p", "v", "w"]),
    "escaped quote": ("SELECT 'it\\'s\nGO\nCREATE VIEW v AS SELECT 1'", ["p", "w"]),
    "quote in a line comment": ("SELECT 1 -- it's\nGO\nCREATE VIEW v AS SELECT 1", ["p", "v", "w"]),
    "quote in a hash comment": ("SELECT 1 # it's\nGO\nCREATE VIEW v AS SELECT 1", ["p", "v", "w"]),
    "hash comments at a line's start": ("#\n#==== it's\n  # '\nGO\nCREATE VIEW v AS SELECT 1", ["p", "v", "w"]),
    "hashes that open no comment": ("SELECT a#b FROM #t, #$u WHERE d #> '\nGO\nCREATE VIEW x AS SELECT 1'\nGO\nCREATE VIEW v AS SELECT 1",
                                    ["p", "v", "w"]),
    "quote in a bracketed name": ("SELECT [it's]\nGO\nCREATE VIEW v AS SELECT 1", ["p", "v", "w"]),
    "doubled closer in a bracketed name": ("SELECT [a]]'b]\nGO\nCREATE VIEW v AS SELECT 1", ["p", "v", "w"]),
    "bracket left open at the line's end": ("SELECT [a\n'\nGO\nCREATE VIEW v AS SELECT 1\n'", ["p", "w"]),
    "comment openers in literals": ("SELECT '--', '/*'\nGO\nCREATE VIEW v AS SELECT 1", ["p", "v", "w"]),
    "quote in a double-quoted name": ('SELECT "it\'s"\nGO\nCREATE VIEW v AS SELECT 1', ["p", "v", "w"]),
    "CR LF in and after a literal": ("SELECT 'a\r\nGO\r\n'\r\nGO\r\nCREATE VIEW v AS SELECT 1", ["p", "v", "w"]),
    "lone CRs": ("SELECT 'a\rb'\rGO\rCREATE VIEW v AS SELECT 1", ["p", "v", "w"]),
    "NELs, and a CR before one": ("SELECT 'a\x85b'\r\x85GO\x85CREATE VIEW v AS SELECT 1 -- x\x85GO", ["p", "v", "w"]),
    "line comment over blocks": ("-- '" + "x" * 80 + "\nGO\nCREATE VIEW v AS SELECT 1", ["p", "v", "w"]),
    "literal over blocks": ("SELECT '" + "x" * 150 + "\nGO\n''" + "y" * 70 + "'\nGO\nCREATE VIEW v AS SELECT 1", ["p", "v", "w"]),
    "long bracketed names over blocks": ("SELECT [" + "n" * 50 + "'s], [" + "m" * 90 + "]\nGO\nCREATE VIEW v AS SELECT 1", ["p", "v", "w"]),
    "doubled closer past a block edge": ("SELECT [" + "n" * 50 + "]]'s]\nGO\nCREATE VIEW v AS SELECT 1", ["p", "v", "w"]),
    "long bracket left open at the line's end": ("SELECT [" + "n" * 50 + "'\nGO\nCREATE VIEW v AS SELECT 1'", ["p", "w"]),
    "names and comments in a row": ("SELECT [a], [b] -- [c] 'x\n  [d].[e] -- GO\nGO\nCREATE VIEW v AS SELECT 1", ["p", "v", "w"]),
    "head after names and comments": ("SELECT [a] -- x\n[b] -- y\nALTER PROCEDURE q AS SELECT [c] -- z\nGO", ["p", "q", "w"]),
    "comment over blocks, then names": ("-- " + "y" * 100 + "\n[a] GO [b]\nGO\nCREATE VIEW v AS SELECT 1", ["p", "v", "w"]),
    "words that open lines as heads would": ("SELECT 1\nAND a\ncase b\n  GOTO c\nRETURN\nCREATEd\nalter_x\nGo1\nGO\nCREATE VIEW v AS SELECT 1", ["p", "v", "w"]),
    "a head among them": ("SELECT 1\nAND a\nRETURN\ncreate procedure v AS SELECT 1\ngo\nALTER b", ["p", "v", "w"]),
    "literal left open": ("SELECT 'open\nGO\nCREATE VIEW v AS SELECT 1\n", ["p"]),
    "literal left open, a line in it opening with a doubled quote": ("SELECT 'open\n  ''x\nGO\nCREATE VIEW v AS SELECT 1\n", ["p"]),
}


@pytest.mark.parametrize("script, names", HIDING.values(), ids=HIDING.keys())
@pytest.mark.parametrize("isa", _matcher.available_isas())
def test_what_hides_a_head_at_every_block_offset(script, names, isa, force_isa):
    force_isa(isa)
    for header in ("", "-- \u0100\n", "-- \U0001f600\n"):
        for pad in range(66):
            text = header + "CREATE PROCEDURE p AS\n" + " " * pad + script + "\nGO\nCREATE VIEW w AS SELECT 1\n"
            assert [o.name for o in find_objects(text)] == names, (header, pad)
            check_both_scans(text)
            if not header:
                check_grades(text)

@given(scripts(), st.sampled_from(["", "\ufeff", "\u0100", "\U0001f600"]))
def test_grades_on_generated_scripts(text, wide):
    check_grades(text)
    # The same objects in wide storage, the wide character outside them: graded on narrowed copies.
    check_grades(wide + "\n" + text)


def test_object_whose_first_line_closes_an_earlier_comment():
    # Its lines as they stand: the comment's tail is code of the object, the constructs in it count.
    text = "/* header\n MERGE CURSOR */ CREATE PROCEDURE p AS\nSELECT 1\nGO\n"
    [graded] = grade_objects(text)
    assert graded.object.first_line == 2
    assert graded.result.complex_construct_count == 2
    check_grades(text)
    check_grades("\ufeff" + text)


# Characters whose low byte (or low two bytes) spell a letter of MERGE: a copy that cut them to a
# narrower width would find a construct the object does not hold.
LOOKALIKES = {"\u014dERGE": 2, "\U0001004dERGE": 4, "\U0001014dERGE": 4}


@pytest.mark.parametrize("word, width", LOOKALIKES.items())
@pytest.mark.parametrize("offset", [0, 70, 200])
@pytest.mark.parametrize("final_newline", [True, False])
def test_objects_holding_wide_characters(word, width, offset, final_newline):
    # Before the first 64 characters of the object, in a later block, or in the short tail.
    body = "CREATE VIEW v AS SELECT 1 AS " + "x" * offset + " -- " + word + "\nFROM t"
    narrow_view = "CREATE VIEW w AS SELECT 1 FROM t"
    text = body + "\nGO\n" + narrow_view + "\nGO\n" + body + ("\n" if final_newline else "")
    assert max(map(ord, text)) > (0xFF if width == 2 else 0xFFFF)
    graded = grade_objects(text)
    assert [g.object.name for g in graded] == ["v", "w", "v"]
    # The wide character sits in a comment: once it is removed, nothing complex is left.
    assert [g.result.complex_construct_count for g in graded] == [0, 0, 0]
    check_grades(text)
    check_grades(text.replace(" -- ", " "))
    assert [g.result.complex_construct_count for g in grade_objects(text.replace(" -- ", " "))] == [0, 0, 0]


@pytest.mark.parametrize("header", ["", "-- \ufeff\n", "-- \U0001f600\n"])
@pytest.mark.parametrize("wide", ["\u0143", "\U0001014d"])
def test_wide_character_at_every_place_of_a_copy_step(header, wide):
    # Narrowed copies go sixteen characters a step: a wide character at any place of a step, in code
    # or in a comment, is seen where it stands (here it keeps MERGE from being a word of its own).
    for offset in range(34):
        text = (header + "CREATE VIEW v AS SELECT " + "x" * offset + wide + "MERGE\nGO\n"
                + "CREATE VIEW w AS SELECT 1 -- " + "y" * offset + wide + "\nFROM t\n")
        check_grades(text)


@pytest.mark.parametrize("wide", ["\u0143", "\U0001014d"])
@pytest.mark.parametrize("isa", _matcher.available_isas())
def test_wide_character_against_a_comment_opener(wide, isa, force_isa):
    # A wide script's comment-free text is narrowed while the openers are looked for, 32 characters
    # a step on the widest path: a wide character right before or after an opener, at any place of a
    # step, neither hides the opener nor moves what follows it.
    force_isa(isa)
    for offset in range(66):
        pad = "x" * offset
        text = (f"CREATE VIEW v AS SELECT {pad}{wide}-- MERGE\nFROM t{wide}/* CURSOR */{pad}\nGO\n"
                f"CREATE VIEW w AS SELECT 1 --{wide}{pad}\nMERGE /*{wide}*/{pad}{wide}\n")
        check_grades(text)
        check_grades("\ufeff" + text.replace(wide, "\u00e9"))


@pytest.mark.parametrize("space", ["\u3000", "\u2003"])
@pytest.mark.parametrize("offset", [0, 70, 200])
def test_wide_blank_inside_an_object(space, offset):
    # A blank beyond Latin-1 still separates CREATE from TABLE once the object is graded apart.
    text = "CREATE PROCEDURE p AS\n" + "-" * offset + "\nCREATE" + space + "TABLE #t (a int)\nGO\n"
    [graded] = grade_objects(text)
    assert graded.result == grade_objects(text.replace(space, " "))[0].result
    check_grades(text)


@pytest.mark.parametrize("wide", ["\ufeff", "\U0001f600", "\u0143"])
def test_object_at_the_very_end_without_a_final_newline(wide):
    for length in (1, 63, 64, 65, 200):
        text = wide + "\nGO\nCREATE VIEW v AS SELECT " + "MERGE ".ljust(length, "x")
        [graded] = grade_objects(text)
        assert graded.object.last_line == 3
        assert graded.result == classify_sql(text.splitlines()[2])


# Objects are graded on their piece of the script's comment-free text where the script's comments and
# their own agree. The script strips as classify_sql does, quotes unknown, so its comments can open in
# one object's string and close in the next, or run on past a line that ends at a CR.
COMMENT_CROSSINGS = {
    "block opened in a string, closed in the next object":
        "CREATE VIEW a AS SELECT '/*' AS x\nGO\nCREATE VIEW b AS SELECT '*/' AS y, MERGE\nGO\n",
    "block opened in one object, never closed":
        "CREATE VIEW a AS SELECT '/*' AS x\nGO\nCREATE VIEW b AS SELECT CURSOR\n",
    "block closed before the end":
        "CREATE VIEW a AS SELECT 1 /* MERGE */ AS x, '/*'\nGO\nCREATE VIEW b AS SELECT 2 /* x */ MERGE */\n",
    "line comment in a string running into the next object":
        "CREATE VIEW a AS SELECT '--' AS x\rCREATE VIEW b AS SELECT MERGE\nGO\n",
    "line comment past a CR":
        "CREATE VIEW v AS SELECT 1 -- note\rCREATE VIEW w AS SELECT CURSOR\nCREATE VIEW x AS SELECT 3\n",
    "line comment to the end of the text":
        "CREATE VIEW v AS SELECT 1 -- MERGE",
    "one-line objects, no final newline":
        "CREATE VIEW v AS SELECT MERGE\nCREATE VIEW w AS SELECT 1\nCREATE VIEW x AS WITH c AS (SELECT 1) SELECT 1",
    "comment between objects":
        "CREATE VIEW v AS SELECT 1\n/* CURSOR\n*/\nCREATE VIEW w AS SELECT 1 /*\n*/\n-- MERGE\nCREATE VIEW x AS SELECT 2",
}


@pytest.mark.parametrize("text", COMMENT_CROSSINGS.values(), ids=COMMENT_CROSSINGS.keys())
@pytest.mark.parametrize("wide", ["", "\ufeff", "\u0143", "\U0001f600"])
def test_comments_of_the_script_that_cross_an_objects_edges(text, wide):
    assert len(find_objects(text)) >= 1
    check_grades(text)
    # The script wide for a character outside the objects, and for one inside a comment of each.
    check_grades(wide + "\n" + text)
    check_grades(text.replace("/* ", "/* " + wide).replace("-- ", "-- " + wide))


def test_a_string_that_opens_a_comment_for_the_script_but_not_for_the_objects():
    # The script's comment-free text loses the MERGE between the two quotes; each object keeps its own.
    text = "CREATE VIEW a AS SELECT '/*' AS x, MERGE\nGO\nCREATE VIEW b AS SELECT MERGE, 1 AS '*/'\n"
    assert classify_sql(text).complex_construct_count == 0
    assert [g.result.complex_construct_count for g in grade_objects(text)] == [1, 1]


@given(scripts(), st.lists(st.tuples(st.integers(min_value=0), st.sampled_from(["\ufeff", "\u0100", "\U0001f600", "\u017f", "\u212a"])),
                           max_size=3), st.booleans())
def test_grades_with_wide_characters_anywhere(text, wides, final_newline):
    for position, character in wides:
        at = position % (len(text) + 1)
        text = text[:at] + character + text[at:]
    check_grades(text if final_newline else text.rstrip("\r\n"))


def check_plan(text, limit):
    plan = plan_object_reading(text, limit)
    total = len(text.splitlines())
    assert plan.total_lines == total
    assert plan.first_read_lines == min(total if total <= 500 else 150, limit)
    covered = [line for start, end, _ in plan.sections for line in range(start, end + 1)]
    assert covered == list(range(plan.first_read_lines + 1, total + 1))
    assert all(end - start + 1 <= limit and hint for start, end, hint in plan.sections)
    return plan


@given(scripts(), st.integers(min_value=50, max_value=80), st.integers(min_value=0, max_value=3))
def test_plans_cover_every_line_once_within_the_limit(text, limit, copies):
    # Copies make the generated scripts long enough to need sections.
    check_plan("\n".join([text] * (copies * 20 + 1)), limit)


@pytest.mark.skipif(not LARGE, reason="corpus not present beside the checkout")
@pytest.mark.parametrize("path", LARGE, ids=lambda p: p.name)
def test_corpus_plans(path):
    text = path.read_text(encoding="utf-8")
    for limit in (50, 300, 1500):
        plan = check_plan(text, limit)
    # The specified plan is untouched beside it.
    assert plan_reading_strategy(path).first_read_lines == plan.first_read_lines or plan.total_lines <= 150


def test_plan_follows_objects_and_names_the_parts():
    body = "".join(f"  INSERT #query_store_plan_{n}\n    SELECT {n}\n" for n in range(400))
    text = ("SET NOCOUNT ON;\n" * 160 + "GO\nCREATE PROCEDURE dbo.sp_QuickieStore AS\nBEGIN\n" + body + "END\nGO\n"
            + "CREATE VIEW dbo.v AS\nSELECT 1\n")
    plan = check_plan(text, 300)
    hints = [hint for _, _, hint in plan.sections]
    assert hints[0] == "procedure dbo.sp_QuickieStore, part 1 of 3"
    assert re.fullmatch(r"procedure dbo\.sp_QuickieStore, part 2 of 3: INSERT #query_store_plan_\d+", hints[1])
    # The parts are about as long as each other, not full ones and a short rest.
    lengths = [end - start + 1 for start, end, _ in plan.sections[:3]]
    assert max(lengths) - min(lengths) <= 4
    assert hints[-1] == "view dbo.v"
    # Parts start on statements, not in the middle of one.
    for start, _, _ in plan.sections[1:-1]:
        assert text.splitlines()[start - 1].lstrip().startswith("INSERT")
    # The object starting in the first read goes on from there.
    inside = check_plan("CREATE PROCEDURE p AS\n" + "SELECT 1\n" * 700, 1500)
    assert inside.sections == ((151, 701, "procedure p, continued"),)


def test_plan_records_and_instructions(tmp_path):
    short = plan_object_reading("CREATE VIEW v AS SELECT 1\n")
    assert short == ObjectReadingPlan(total_lines=1, first_read_lines=1, sections=())
    assert format_object_reading_instructions(short, "a.sql") == "Read the complete SQL file at `a.sql` using the Read tool."
    with pytest.raises(dataclasses.FrozenInstanceError):
        short.sections = ()
    path = tmp_path / "p.sql"
    path.write_text("CREATE PROCEDURE p AS\n" + "SELECT 1\n" * 600, encoding="utf-8")
    plan = plan_object_reading_file(path, max_section_lines=200)
    text = format_object_reading_instructions(plan, "p.sql")
    assert text.splitlines()[0] == "This is a 601-line SQL file. Read it strategically, one object at a time:"
    assert "   - Lines 151-350: procedure p, continued, part 1 of 3: SELECT 1" in text.splitlines()
    assert text.endswith("Do NOT try to read the entire file in one Read call.")
    odd = ObjectReadingPlan(total_lines=10, first_read_lines=5, sections=((6, 10),))
    with pytest.raises(ValueError, match="not enough values to unpack"):
        format_object_reading_instructions(odd, "x")
    with pytest.raises(TypeError, match="Argument 'file_path' has incorrect type"):
        format_object_reading_instructions(plan, path)


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: plan_object_reading("x", 49), ValueError, "max_section_lines must be at least 50, got 49"),
        (lambda: plan_object_reading("x", -10**30), ValueError, "max_section_lines must be at least 50"),
        (lambda: plan_object_reading("x", "60"), TypeError,
         "Argument 'max_section_lines' has incorrect type (expected int, got str)"),
        (lambda: plan_object_reading(b"x"), TypeError, "Argument 'text' has incorrect type (expected str, got bytes)"),
        (lambda: plan_object_reading("x", 60, 70), TypeError,
         "plan_object_reading() takes at most 2 positional arguments (3 given)"),
        (lambda: plan_object_reading(max_section_lines=60), TypeError,
         "plan_object_reading() takes at least 1 positional argument (0 given)"),
        (lambda: plan_object_reading("x", text="y"), TypeError,
         "plan_object_reading() got multiple values for keyword argument 'text'"),
        (lambda: grade_objects(1), TypeError, "Argument 'text' has incorrect type (expected str, got int)"),
    ],
)
def test_plan_argument_errors(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert str(raised.value).startswith(message)


def test_one_debug_event_per_call():
    from structlog.testing import capture_logs

    text = "CREATE VIEW v AS SELECT 1\nGO\nCREATE TABLE t (a int)\n"
    with capture_logs() as events:
        find_objects(text)
        plan_object_reading(text)
        grade_objects(text)
    names = [(e["event"], e.get("objects")) for e in events]
    assert names[0] == ("objects_found", 2)
    assert events[1] == {"event": "object_reading_plan", "log_level": "debug", "total_lines": 3, "sections": 0,
                         "first_read": 3}
    assert names[2:] == [("objects_graded", 2)]


def test_records_go_through_the_classes_and_initialisers_the_module_holds(monkeypatch):
    import agents.tessera.inventory as inventory
    from agents.tessera.inventory import SqlObject

    text = "CREATE PROCEDURE p AS\nMERGE t\nGO\n"
    (graded,) = grade_objects(text)
    assert list(vars(graded)) == ["object", "result"]
    assert list(vars(graded.object)) == [f.name for f in dataclasses.fields(SqlObject)]
    with pytest.raises(dataclasses.FrozenInstanceError):
        graded.result = None
    # A replaced __init__ is run, with the arguments a Python caller would pass: by position for the
    # inventory's own records, by keyword for the complexity module's.
    calls = []
    for cls in (SqlObject, GradedObject, ComplexityResult):
        original = cls.__init__

        def init(self, *args, _original=original, _name=cls.__name__, **kwargs):
            calls.append((_name, len(args), sorted(kwargs)))
            _original(self, *args, **kwargs)

        monkeypatch.setattr(cls, "__init__", init)
    assert grade_objects(text) == [graded]
    assert calls == [("SqlObject", 6, []), ("ComplexityResult", 0, sorted(vars(graded.result))), ("GradedObject", 2, [])]
    monkeypatch.undo()
    # So is whatever stands in for a class under its global name.
    monkeypatch.setattr(inventory, "GradedObject", lambda o, r: ("graded", o.name, r.complexity.value))
    monkeypatch.setattr(inventory, "SqlObject", lambda *fields: type("Stand", (), {"name": fields[1]})())
    assert grade_objects(text) == [("graded", "p", "complex")]
    monkeypatch.undo()
    assert grade_objects(text) == [graded] and find_objects(text) == [graded.object]
