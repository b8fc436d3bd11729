"""PLATFORM_MARKERS: its shape, and what the patterns recognise when `re` applies them as an evaluator would."""

import itertools
import re
from collections import Counter

import pytest

import agents.tessera.dialect_probe as probe
import agents.tessera.dialect_signatures as catalogue

MARKERS = catalogue.PLATFORM_MARKERS
BY_ID = {m.id: m for m in MARKERS}
SHARED = {m.id for m in MARKERS if m.id.startswith("shared.")}
FAMILIES = [("databricks", 14), ("snowflake", 14), ("postgresql", 12), ("mysql", 15), ("sqlserver", 14),
            ("oracle", 15), ("redshift", 11), ("bigquery", 10), ("teradata", 15), ("hive", 3), ("shared", 10)]
# Evaluators apply the catalogue case-insensitively to whole scripts, "^"/"$" at every line.
EVALUATOR = re.IGNORECASE | re.MULTILINE


def test_order_ids_platforms_and_weights():
    assert type(MARKERS) is list
    assert [(f, len(list(g))) for f, g in itertools.groupby(MARKERS, lambda m: m.id.partition(".")[0])] == FAMILIES
    assert (MARKERS[0].id, MARKERS[-1].id) == ("databricks.notebook_header", "shared.select_star_except")
    assert len(BY_ID) == len({m.pattern for m in MARKERS}) == 133
    for m in MARKERS:
        re.compile(m.pattern, EVALUATOR)
        family = m.id.partition(".")[0]
        assert type(m.platforms) is list
        if family != "shared":
            assert m.platforms == [getattr(probe, f"PLATFORM_{family.upper()}")]
    assert len({id(m.platforms) for m in MARKERS}) == 133
    P = probe
    assert BY_ID["shared.merge_stmt"].platforms == [P.PLATFORM_POSTGRESQL, P.PLATFORM_SNOWFLAKE, P.PLATFORM_DATABRICKS,
                                                    P.PLATFORM_REDSHIFT, P.PLATFORM_BIGQUERY, P.PLATFORM_ORACLE,
                                                    P.PLATFORM_SQLSERVER]
    assert Counter(m.confidence for m in MARKERS) == {"high": 118, "medium": 15}
    assert {m.id for m in MARKERS if m.confidence == "medium"} == SHARED | {
        "databricks.optimizer_hint", "databricks.struct_colon_type", "bigquery.struct_space_type",
        "hive.msck_repair", "hive.string_angle_bracket_colon"}
    assert {m.id: m.scope for m in MARKERS if m.scope} == dict.fromkeys(
        ["databricks.notebook_header", "databricks.optimizer_hint", "mysql.version_comment"], "comment")
    assert {m.id for m in MARKERS if m.corroborating_only} == SHARED - {"shared.select_star_except"}
    # Backslashes that change no match in `re` but belong to the catalogue as written.
    assert BY_ID["bigquery.string_prefix_triple_quote"].pattern == "\\b[rRbB]['\\\"]|\\\"\\\"\\\""
    assert BY_ID["postgresql.psql_meta_commands"].pattern == r"^\s*\\(copy|dt|gset|df|dn|du|d|i|x)\b"


def test_spans_are_lazy_bounded_and_no_dot_is_a_wildcard():
    spans = {}
    for m in MARKERS:
        bounds = [int(b) for b in re.findall(r"\[\\s\\S\]\{0,(\d+)\}\?", m.pattern)]
        assert m.pattern.count(r"[\s\S]") == len(bounds), m.id
        spans.update({m.id: bounds} if bounds else {})
        assert "." not in re.sub(r"\[[^\]]*\]", "", re.sub(r"\\.", "", m.pattern)), m.id
    assert spans == {
        "databricks.optimize_zorder": [200], "databricks.vacuum_retain": [60],
        "databricks.create_table_using_format": [3000], "databricks.lakeflow_dlt_ddl": [200, 200],
        "snowflake.semi_structured_types": [2000], "snowflake.stream_task_ddl": [300],
        "snowflake.dynamic_table": [300], "postgresql.on_conflict_upsert": [80], "postgresql.serial_types": [2000],
        "sqlserver.money_type": [2000], "redshift.copy_iam_role": [300], "bigquery.js_udf": [500],
        "bigquery.load_data_from_files": [300], "teradata.partition_case_range_n": [50]}


@pytest.mark.parametrize("marker_id, hit, miss", [
    ("sqlserver.go_batch_separator", ["SELECT 1\nGO\nSELECT 2", "  go  "], []),
    ("teradata.sel_abbreviation", ["x\nSEL * FROM t;", "x;\nSEL * FROM t;"], []),
    ("shared.minus_setop", ["SELECT 1 FROM t\nMINUS\nSELECT 1 FROM u", "SELECT 1 FROM t MINUS SELECT 1 FROM u"], []),
    ("bigquery.magic_comment", ["# standardSQL"], []),
    ("mysql.hash_comment", ["# drop old rows"], ["# standardSQL", "SELECT * FROM #temp"]),
    ("sqlserver.temp_table_prefix", ["SELECT * FROM #temp"], []),
    ("mysql.enum_type", ["status ENUM('a','b')"], ["CREATE TYPE mood AS ENUM ('a')"]),
    ("mysql.delimiter_command", ["DELIMITER $$", "DELIMITER ;"], ["DELIMITER abc"]),
    ("sqlserver.bracket_identifier", ["SELECT [Order Date] FROM t", "SELECT dbo.[OrderDate] FROM t"],
     ["SELECT [OrderDate] FROM t"]),
    ("sqlserver.convert_style_code", ["CONVERT(VARCHAR(10), d, 120)"], ["CONVERT(VARCHAR(10), d)"]),
    ("databricks.trycast_operator", ["SELECT a?::INT"], ["SELECT a:: int"]),
    ("shared.cast_operator", ["SELECT a?::INT"], ["SELECT a:: int"]),
    ("postgresql.jsonb_operators", ["WHERE d @> '{}'"], []),
    ("snowflake.stage_sigil", [], ["WHERE d @> '{}'"]),
    ("databricks.notebook_header", ["-- Databricks notebook source", "-- MAGIC %md", "-- COMMAND ----------"], []),
    ("mysql.version_comment", ["/*!40101 SET NAMES utf8 */"], []),
    ("databricks.optimizer_hint", ["SELECT /*+ BROADCAST(t) */ *"], []),
    # the quotes and the backslash that are easiest to get wrong
    ("bigquery.string_prefix_triple_quote", ["SELECT r'\\d'", 'SELECT b"ab"', 'SELECT """x"""'],
     ["SELECT 'x'", 'SELECT ""']),
    ("postgresql.psql_meta_commands", ["SELECT 1;\n  \\gset\n"], ["SELECT 'a\\d'"]),
])
def test_examples(marker_id, hit, miss):
    pattern = re.compile(BY_ID[marker_id].pattern, EVALUATOR)
    assert [t for t in hit if not pattern.search(t)] == [] and [t for t in miss if pattern.search(t)] == []


def test_line_anchors_need_multiline_and_keywords_need_ignorecase():
    def hits(marker_id, text, flags):
        return bool(re.search(BY_ID[marker_id].pattern, text, flags))

    assert not hits("sqlserver.go_batch_separator", "SELECT 1\nGO\nSELECT 2", re.IGNORECASE)
    assert not hits("sqlserver.go_batch_separator", "  go  ", re.MULTILINE)
    assert not hits("teradata.sel_abbreviation", "x\nSEL * FROM t;", re.IGNORECASE)
    assert hits("teradata.sel_abbreviation", "x;\nSEL * FROM t;", 0)
    assert hits("shared.minus_setop", "SELECT 1 FROM t\nMINUS\nSELECT 1 FROM u", 0)


@pytest.mark.parametrize("gap, expected", [(300, True), (301, False)])
def test_copy_iam_role_bridges_at_most_300_characters(gap, expected):
    text = "COPY t FROM" + (" \n" * gap)[:gap] + "IAM_ROLE y"
    assert bool(re.search(BY_ID["redshift.copy_iam_role"].pattern, text, EVALUATOR)) is expected
