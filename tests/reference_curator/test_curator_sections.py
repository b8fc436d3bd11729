"""Cutting knowledge documents: where sections begin, which titles match, the counts of the event, errors."""

from contextlib import contextmanager

import pytest

from agents.tessera import reference_curator as curator

extract = curator.extract_sections


@contextmanager
def logger_replaced(logger):
    saved, curator.logger = curator.logger, logger
    try:
        yield
    finally:
        curator.logger = saved


class Recorder:
    def __init__(self):
        self.calls = []

    def debug(self, *args, **kwargs):
        self.calls.append((args, list(kwargs.items())))


def select(categories, mapping="", gotchas="", **more):
    recorder = Recorder()
    with logger_replaced(recorder):
        result = curator.select_knowledge(categories, full_mapping=mapping, full_gotchas=gotchas, **more)
    [(args, fields)] = recorder.calls
    assert args == ("knowledge_selected",)
    return result, dict(fields)


@pytest.mark.parametrize(
    "text, titles, expected",
    [
        ("# NULL Handling Guide\nintro\n## Other\nx", {"NULL Handling"}, "# NULL Handling Guide\nintro"),
        ("## A\n##x\n#y\n ## B\n### C\nbody", {"a"}, "## A\n##x\n#y\n ## B\n### C\nbody"),
        ("## A\n ## B\n### C\n##D", {"B", "C", "D"}, ""),  # none of these lines opens a section
        ("## A\r## B\rbody", {"b"}, "## A\r## B\rbody"),  # only "\n" ends a line; the header runs on
        ("## A\r\n## B\r\nbody", {"b"}, "## B\r\nbody"),
        ("## A\u2028## B", {"zz"}, ""),
        ("\n \t\n## B\n\n  x  \n\n", {"B"}, "## B\n\n  x"),
        ("## \t\nany\n## Other\nx", {"zzz"}, "## \t\nany"),  # a blank header lies inside every title
        ("## A\n##   ", {"a"}, "## A\n\n##"),
        ("## Zed\n\n## Yes\ny\n## Zed again\n\n## Yes too", {"yes"}, "## Yes\ny\n\n## Yes too"),
        ("no heading\nat all", {"no heading"}, "no heading\nat all"),
        ("## x", set(), ""),
        ("", {"x"}, ""),
    ],
)
def test_sections_and_their_headers(text, titles, expected):
    assert extract(text, titles) == expected


@pytest.mark.parametrize(
    "heading, title, selected",
    [
        ("Data Type Mapping", "Data Type Mapping with Gotchas", True),  # the header inside the title
        ("Joins and Lookups", "Joins", True),  # the title inside the header
        ("JOINS", "joins", True),
        ("Joint", "Joins", False),
        ("İSTANBUL", "İstanbul", True),  # "İ".lower() is "i" plus a combining dot
        ("İSTANBUL", "istanbul", False),
        ("ΟΔΟΣ", "οδος", True),  # a final sigma lower-cases to "ς"
        ("ΟΔΟΣ", "οδοσ", False),
        ("Straße", "STRASSE", False),  # lower-casing is not case folding
        ("\u212aelvin", "kelvin", True),
    ],
)
def test_title_matching(heading, title, selected):
    text = f"## {heading}\nbody"
    assert extract(text, {title}) == (text if selected else "")


def test_titles_are_lowered_when_tested():
    assert extract("   \n\t", {1}) == ""  # no section is reached, so nothing is tested
    with pytest.raises(AttributeError, match="^'int' object has no attribute 'lower'$"):
        extract("## x", {1})
    with pytest.raises(TypeError, match="^'in <string>' requires string as left operand, not bytes$"):
        extract("## x", {type("T", (), {"lower": lambda self: b"x"})()})
    assert extract("## t1\n## t2\n## x", {type("T", (), {"lower": lambda self: "t"})()}) == "## t1\n\n## t2"


def test_selection_and_its_event():
    mapping = "## Data Type Mapping\nint\n## Joins\nleft\n## Window Functions\nrank"
    limitations = "## Limits\n" + "x " * 50
    result, event = select({"join"}, mapping, "## 3. NULL Ordering in ORDER BY\nnulls", full_limitations=limitations)
    assert list(result) == ["mapping", "gotchas", "limitations"]
    assert result["mapping"] == "## Data Type Mapping\nint\n\n## Joins\nleft" and result["gotchas"] == ""
    assert result["limitations"] is limitations
    assert list(event.items()) == [("categories", ["join"]), ("mapping_sections", 3), ("gotcha_sections", 0),
                                   ("token_estimate", 8), ("full_tokens", 20), ("reduction_pct", 60)]
    assert select(set())[0] == {"mapping": "", "gotchas": "", "limitations": ""}


@pytest.mark.parametrize(
    "categories, mapping_sections, gotcha_sections",
    [(set(), 2, 0), ({"type_cast"}, 3, 1), ({"null_handling"}, 3, 3), ({"nope", "cte", "date_function"}, 4, 3),
     (set(curator.CONSTRUCT_TO_MAPPING_SECTIONS), 17, 10), ({1, 2.5}, 2, 0)],
)
def test_event_counts_requested_titles(categories, mapping_sections, gotcha_sections):
    _, event = select(categories)
    assert (event["mapping_sections"], event["gotcha_sections"]) == (mapping_sections, gotcha_sections)
    assert event["categories"] == sorted(categories)


@pytest.mark.parametrize(
    "mapping, gotchas, tokens, full, pct",
    [
        ("## NULL\nx\n## Other\na b c", "", 3, 8, 62),  # 62.5 goes to the even neighbour
        ("## \n## Other\na b c d e", "", 1, 8, 88),  # 87.5 too
        ("## \n## Zz", "", 1, 3, 67),
        ("", "", 0, 0, 100),
        ("  x  y\u3000z\x1c", "## A\nb", 0, 6, 100),
        ("## NULL\n\u00a0\u2028", "w " * 997, 2, 999, 100),  # 99.8
    ],
)
def test_word_counts_and_reduction(mapping, gotchas, tokens, full, pct):
    _, event = select(set(), mapping, gotchas, full_limitations="not counted at all")
    assert (event["token_estimate"], event["full_tokens"], event["reduction_pct"]) == (tokens, full, pct)


def test_event_failures_leave_no_result():
    class Failing:
        def debug(self, *args, **kwargs):
            raise OSError("sink down")

    with logger_replaced(Failing()), pytest.raises(OSError, match="sink down"):
        curator.select_knowledge(set(), full_mapping="", full_gotchas="")
    with logger_replaced(Recorder()), pytest.raises(TypeError, match="^'<' not supported between instances of"):
        curator.select_knowledge({1, "join"}, full_mapping="## Joins", full_gotchas="")
    with logger_replaced(None):
        del curator.logger
        with pytest.raises(NameError, match="^name 'logger' is not defined$") as missing:
            curator.select_knowledge(set(), full_mapping="", full_gotchas="")
        assert missing.value.name == "logger"


sk = curator.select_knowledge


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: sk([], full_mapping=None, full_gotchas=1),
         "Argument 'categories' has incorrect type (expected set, got list)"),
        (lambda: sk(frozenset(), full_mapping="", full_gotchas=""),
         "Argument 'categories' has incorrect type (expected set, got frozenset)"),
        (lambda: sk(set(), full_gotchas=None, full_mapping=type("S", (str,), {})()),
         "Argument 'full_mapping' has incorrect type (expected str, got S)"),
        (lambda: sk(set(), full_mapping="", full_gotchas="", full_limitations=None),
         "Argument 'full_limitations' has incorrect type (expected str, got NoneType)"),
        (lambda: sk(set(), full_mapping=""), "select_knowledge() needs keyword-only argument full_gotchas"),
        (lambda: sk(set(), "", ""), "select_knowledge() takes exactly 1 positional argument (3 given)"),
        (lambda: sk(full_mapping="", full_gotchas=""),
         "select_knowledge() takes exactly 1 positional argument (0 given)"),
        (lambda: sk(set(), full_mapping="", full_gotchas="", limits=""),
         "select_knowledge() got an unexpected keyword argument 'limits'"),
        (lambda: extract(None, ["x"]), "Argument 'full_text' has incorrect type (expected str, got NoneType)"),
        (lambda: extract("x", ["x"]), "Argument 'headers' has incorrect type (expected set, got list)"),
        (lambda: extract("x"), "extract_sections() takes exactly 2 positional arguments (1 given)"),
    ],
)
def test_argument_errors_in_order(call, message):
    recorder = Recorder()
    with pytest.raises(TypeError) as raised, logger_replaced(recorder):
        call()
    assert str(raised.value) == message
    assert recorder.calls == []
