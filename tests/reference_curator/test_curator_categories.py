"""Construct categories: what the patterns' wording implies, comment removal, and `re`'s Unicode rules."""

import pytest

from agents.tessera import reference_curator as curator

detect = curator.detect_construct_categories


@pytest.mark.parametrize(
    "sql, expected",
    [
        ("SELECT a FROM t JOIN u ON t.id = u.id", {"query"}),  # a bare JOIN has no qualifier
        ("SELECT a FROM t LEFT JOIN u ON t.id = u.id", {"query", "join", "string_ops"}),
        ("SELECT a FROM t full\touter\r\njoin u", {"query", "join"}),
        ("SELECT a FROM t GROUP BY a HAVING a > 1", {"query"}),  # no parenthesis after the keyword
        ("select count (*) from t GROUP  BY (a)", {"query", "aggregation"}),
        ("RANK() OVER (ORDER BY x) RANKING(x)", {"window_function"}),
        ("DECLARE @t TABLE (id INT) a#b", {"temp_table"}),  # no word boundary before "#"
        ("WITH cte (a, b) AS (SELECT 1, 2) SELECT * FROM cte", {"cte", "query"}),
        ("WITH cte (a, (b)) AS (SELECT 1)", {"query"}),  # the column list can't hold a ")"
        ("CREATE OR ALTER PROCEDURE p AS EXECUTE q", {"stored_proc"}),
        ("MERGE t USING s ON x IS \n NOT\tNULL FOR JSON PATH", {"merge", "null_handling", "json_ops"}),
        # Quotes protect nothing, and a line comment is removed before block comments are looked for.
        ("", set()),
        ("SELECT a, '--', COUNT(*) FROM t", {"query"}),
        ("SELECT '/*', COUNT(x) FROM t */ MERGE", {"query", "merge"}),
        ("/* note -- old */ SELECT 1", set()),  # the "--" eats the "*/", the unclosed comment stays
        ("/* a -- x */\nSELECT 1 */ MERGE t", {"merge"}),  # so the comment runs to the next "*/"
        ("SELECT 1 --x\rMERGE t", {"query"}),  # a line comment ends only at "\n"
        ("-\n-MERGE /\n* CAST */", {"merge", "type_cast"}),
        # Case folds the way `re` folds it, and word boundaries follow str.isalnum.
        ("ſelect 1 İNNER JOIN t", {"query", "join"}),
        ("ınner join t MERGE \u212a", {"join", "merge"}),
        ("éSELECT SELECT٣ SELECT² \U0001d400SELECT", set()),
        ("SELECT\u0301", {"query"}),  # a combining mark is not a word character
        ("SUM\u3000(x) @t\x1cTABLE", {"aggregation", "temp_table"}),
        ("SUM\u200b(x)", set()),  # a zero-width space is not whitespace
    ],
)
def test_categories(sql, expected):
    assert detect(sql) == expected


def test_result_is_a_new_set_of_the_table_keys():
    detect("SELECT 1").add("changed")
    assert detect("SELECT 1") == {"query"}
    keys = list(curator._CATEGORY_PATTERNS)
    assert all(any(c is k for k in keys) for c in detect("SELECT COUNT(x) FROM #t LEFT JOIN u"))


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: detect(None), "Argument 'sql_content' has incorrect type (expected str, got NoneType)"),
        (lambda: detect(type("S", (str,), {})("x")), "Argument 'sql_content' has incorrect type (expected str, got S)"),
        (lambda: detect(), "detect_construct_categories() takes exactly 1 positional argument (0 given)"),
        (lambda: detect(sql="x"), "detect_construct_categories() got an unexpected keyword argument 'sql'"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as raised:
        call()
    assert str(raised.value) == message
    assert detect(sql_content="select 1") == {"query"}



def test_the_category_table_is_one_member_per_alternative_without_the_literal_scan():
    # Every member is one more candidate test and every group of 64 one more pass over the script: the
    # keyword alternations are scanned by alternative, and the set is too small for the literal scan.
    from agents.tessera import _matcher

    table = [(p.pattern, p.flags, False) for p in curator._CATEGORY_PATTERNS.values()]
    literal, groups = _matcher.compile_set(table).layout()
    assert not literal and sum(groups) == 65 and len(groups) == 2
