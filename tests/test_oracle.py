"""The `re` reference must itself be right before anything is compared against it."""

from pathlib import Path

import pytest

import oracle


def _numbered_file(total, special):
    """A file of `total` lines, line n holding special[n] or a plain statement."""
    return "\n".join(special.get(n, f"SELECT {n} AS n;") for n in range(1, total + 1)) + "\n"


def test_thousand_line_plan_and_its_instructions():
    text = _numbered_file(
        1000,
        {
            1: "SET NOCOUNT ON;",
            151: "",
            200: "CREATE PROCEDURE dbo.usp_load_orders",
            450: "create or alter procedure dbo.usp_load_customer_dimension_full_refresh",
            700: "CREATE FUNCTION dbo.udf_current_fiscal_year()",
        },
    )
    plan = oracle.plan_reading(text)
    assert plan == oracle.plan_reading_unmended(text)
    assert plan == (
        True,
        1000,
        150,
        (
            (151, 450, "SQL block (50 lines)"),
            (450, 700, "create or alter procedure dbo.usp_load_customer_di"),
            (700, 1000, "CREATE FUNCTION dbo.udf_current_fiscal_year()"),
        ),
    )
    assert oracle.format_instructions(*plan, "ignored.sql").split("\n") == [
        "This is a 1000-line SQL file. Read it strategically:",
        "1. Read lines 1-150 to understand structure (SET statements, parameters, procedure signature).",
        "2. Then read each logical section:",
        "   - Lines 151-450: SQL block (50 lines)",
        "   - Lines 450-700: create or alter procedure dbo.usp_load_customer_di",
        "   - Lines 700-1000: CREATE FUNCTION dbo.udf_current_fiscal_year()",
        "",
        "Use the Read tool with offset and limit parameters. Do NOT try to read the entire file in one Read call.",
    ]


def test_short_and_borderline_files():
    assert oracle.plan_reading("") == (False, 0, 0, ())
    assert oracle.plan_reading("x\r\n" * 500) == (False, 500, 500, ())
    text = _numbered_file(501, {})
    assert oracle.plan_reading(text) == (
        True,
        501,
        150,
        ((151, 250, "SELECT 151 AS n;"), (250, 501, "SELECT 250 AS n;")),
    )
    whole = oracle.format_instructions(False, 3, 3, (), "scripts/load_orders.sql")
    assert whole == "Read the complete SQL file at `scripts/load_orders.sql` using the Read tool."
    assert len(whole) == 76


def test_close_edges_join_a_neighbour_instead_of_vanishing():
    # GO at 160 (< 20 lines after the first read) and 890 (< 20 before the end): unmended,
    # 151-160 and 890-900 belong to no section.
    text = _numbered_file(900, {160: "GO", 400: "CREATE PROC dbo.p AS", 890: "  go"})
    assert oracle.plan_reading_unmended(text)[3] == (
        (160, 400, "GO"),
        (400, 890, "CREATE PROC dbo.p AS"),
    )
    assert oracle.plan_reading(text)[3] == (
        (151, 400, "SELECT 151 AS n;"),
        (400, 900, "CREATE PROC dbo.p AS"),
    )


@pytest.mark.parametrize(
    ("selected", "full", "pct"),
    [(3, 8, 62), (1, 8, 88), (1, 3, 67), (0, 7, 100), (0, 0, 100)],
)
def test_reduction_percentage_rounds_half_to_even(selected, full, pct):
    assert oracle.reduction_pct(selected, full) == pct


def test_selection_event_counts_titles_and_words():
    mapping = "# Guide\n\n## Joins x\n### deeper stays inside\n## Data Type Mapping\n## Window Functions y\n"
    result, event = oracle.select_knowledge({"join", "nonsense"}, full_mapping=mapping, full_gotchas="")
    assert result == {
        "mapping": "## Joins x\n### deeper stays inside\n\n## Data Type Mapping",
        "gotchas": "",
        "limitations": "",
    }
    assert list(event) == [
        "categories", "mapping_sections", "gotcha_sections", "token_estimate", "full_tokens", "reduction_pct",
    ]
    assert event["categories"] == ["join", "nonsense"]
    assert (event["mapping_sections"], event["gotcha_sections"]) == (3, 0)
    assert (event["token_estimate"], event["full_tokens"]) == (11, 17)
    assert oracle.select_knowledge({"null_handling"}, full_mapping="", full_gotchas="")[1]["gotcha_sections"] == 3


@pytest.mark.parametrize(
    ("sql", "categories"),
    [
        ("SELECT a FROM t LEFT JOIN u ON t.id = u.id", {"query", "join", "string_ops"}),
        ("SELECT a, '--', COUNT(*) FROM t", {"query"}),
        ("/* note -- old */ SELECT 1", set()),
        ("DECLARE @t TABLE (id INT)", {"temp_table"}),
        ("CREATE OR ALTER PROCEDURE p AS BEGIN SELECT 1 END", {"stored_proc", "query"}),
    ],
)
def test_category_detection(sql, categories):
    assert oracle.detect_categories(sql) == categories


def test_grading_thresholds_and_counts():
    assert oracle.classify_counts("x\n" * 50)["complexity"] == "simple"
    assert oracle.classify_counts("x\n" * 51)["complexity"] == "moderate"
    assert oracle.classify_counts("x\n" * 301)["complexity"] == "complex"
    counts = oracle.classify_counts("DECLARE c CURSOR FOR SELECT 1 FROM #t JOIN #t ON 1=1 -- MERGE\n")
    assert counts["complex_construct_count"] == 2
    assert counts["temp_table_count"] == 2
    assert counts["moderate_construct_count"] == 1
    assert oracle.budgets(1200, 3, 2) == (8, 40, 3)
    assert oracle.budgets(1000, 0, 0) == (6, 29, 3)


EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


def test_shipped_examples_span_the_grades_and_knowledge_titles_resolve():
    grades = {
        p.name: oracle.classify_counts(p.read_text(encoding="utf-8"))["complexity"]
        for p in EXAMPLES.glob("*.sql")
    }
    assert grades["01_daily_orders_query.sql"] == "simple"
    assert grades["02_customer_rollup.sql"] == "moderate"
    assert grades["03_usp_reconcile_payments.sql"] == "complex"
    big = (EXAMPLES / "04_warehouse_nightly_load.sql").read_text(encoding="utf-8")
    assert oracle.plan_reading(big)[0]

    # Every title the tables name picks exactly one section of the sample documents.
    docs = {
        "mapping": (EXAMPLES / "knowledge" / "mapping.md").read_text(encoding="utf-8"),
        "gotchas": (EXAMPLES / "knowledge" / "gotchas.md").read_text(encoding="utf-8"),
    }
    tables = {
        "mapping": [*oracle.ALWAYS_INCLUDE_MAPPING, *sum(oracle.CONSTRUCT_TO_MAPPING_SECTIONS.values(), [])],
        "gotchas": sum(oracle.CONSTRUCT_TO_GOTCHA_SECTIONS.values(), []),
    }
    for doc, titles in tables.items():
        for title in titles:
            picked = oracle.extract_sections(docs[doc], {title})
            assert picked.startswith("## ") and picked.count("\n## ") == 0, (doc, title)
