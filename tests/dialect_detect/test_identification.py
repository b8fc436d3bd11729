"""Which platform scripts come out as: the large T-SQL scripts, one short script per platform written
from the platforms' documented syntax, and the lexicon's own consistency."""

import re

import pytest

from agents.tessera import dialect_probe
from agents.tessera.dialect_detect import _LEXICON, detect_dialect

PLATFORM_NAMES = {getattr(dialect_probe, n): n[len("PLATFORM_"):].lower() for n in dir(dialect_probe) if n.startswith("PLATFORM_")}


def test_every_large_tsql_script_is_sqlserver(corpus):
    scripts = sorted((corpus / "tsql-large").glob("*.sql"))
    assert scripts
    for path in scripts:
        assert detect_dialect(path.read_text(encoding="utf-8")).platform == dialect_probe.PLATFORM_SQLSERVER, path.name


SCRIPTS = {
    "ORACLE": """CREATE OR REPLACE PACKAGE BODY billing AS
  PROCEDURE close_month(p_month IN DATE) IS
    v_total NUMBER(12, 2);
  BEGIN
    SELECT NVL(SUM(amount), 0) INTO v_total FROM invoices WHERE ROWNUM < 100 AND due < SYSDATE;
    DBMS_OUTPUT.PUT_LINE(v_total);
  EXCEPTION WHEN OTHERS THEN RAISE_APPLICATION_ERROR(-20001, SQLERRM);
  END;
END billing;
/
""",
    "SNOWFLAKE": """USE ROLE sysadmin;
CREATE OR REPLACE TABLE raw.events (payload VARIANT, loaded_at TIMESTAMP_NTZ);
SELECT f.value:id::string AS id FROM raw.events, LATERAL FLATTEN(input => payload:items) f
QUALIFY ROW_NUMBER() OVER (PARTITION BY id ORDER BY loaded_at DESC) = 1;
""",
    "POSTGRESQL": """CREATE TABLE orders (id BIGSERIAL PRIMARY KEY, doc JSONB, placed_at TIMESTAMPTZ DEFAULT now());
CREATE OR REPLACE FUNCTION touch() RETURNS TRIGGER AS $$
BEGIN
  NEW.placed_at := now();
  RETURN NEW;
END;
$$ LANGUAGE plpgsql;
INSERT INTO orders (doc) VALUES ('{}') ON CONFLICT (id) DO NOTHING;
""",
    "MYSQL": """CREATE TABLE `users` (
  `id` INT(11) UNSIGNED NOT NULL AUTO_INCREMENT,
  `name` VARCHAR(64) NOT NULL,
  PRIMARY KEY (`id`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;
INSERT INTO `users` (`name`) VALUES ('a') ON DUPLICATE KEY UPDATE `name` = VALUES(`name`);
""",
    "SQLSERVER": """SET NOCOUNT ON;
DECLARE @cutoff DATETIME2 = DATEADD(DAY, -30, GETDATE());
SELECT TOP (10) [Customer Name], ISNULL(total, 0) FROM dbo.sales WITH (NOLOCK) WHERE created < @cutoff;
GO
""",
    "REDSHIFT": """CREATE TABLE sales (id INT ENCODE az64, sold_at TIMESTAMP)
DISTSTYLE KEY DISTKEY (id) COMPOUND SORTKEY (sold_at);
COPY sales FROM 's3://bucket/sales/' IAM_ROLE 'arn:aws:iam::1:role/r' FORMAT AS PARQUET;
""",
    "BIGQUERY": """SELECT user_id, SAFE_CAST(score AS INT64) AS score
FROM `my-project.analytics.events_*`
WHERE _TABLE_SUFFIX BETWEEN '20240101' AND '20240131'
  AND DATE_TRUNC(event_date, MONTH) = '2024-01-01';
""",
    "TERADATA": """CREATE MULTISET VOLATILE TABLE tmp AS (
  SEL customer_id, ZEROIFNULL(SUM(amount)) AS total FROM sales GROUP BY 1
) WITH DATA PRIMARY INDEX (customer_id) ON COMMIT PRESERVE ROWS;
COLLECT STATISTICS COLUMN (customer_id) ON tmp;
""",
    "HIVE": """SET hive.exec.dynamic.partition.mode=nonstrict;
CREATE EXTERNAL TABLE logs (line STRING, tags MAP<STRING, STRING>)
PARTITIONED BY (dt STRING) ROW FORMAT DELIMITED FIELDS TERMINATED BY '\\t'
STORED AS TEXTFILE LOCATION '${hiveconf:root}/logs';
MSCK REPAIR TABLE logs;
""",
    "DATABRICKS": """-- COMMAND ----------
CREATE OR REPLACE TABLE main.sales.orders USING DELTA AS SELECT * FROM parquet.`/mnt/raw/orders`;
OPTIMIZE main.sales.orders ZORDER BY (customer_id);
DESCRIBE HISTORY main.sales.orders;
""",
}


@pytest.mark.parametrize("name", sorted(SCRIPTS))
def test_a_typical_script_of_each_platform(name):
    verdict = detect_dialect(SCRIPTS[name])
    assert verdict.platform == getattr(dialect_probe, f"PLATFORM_{name}")
    assert verdict.runner_up != verdict.platform


# Redshift reads PostgreSQL's catalogue but has neither its object size functions nor triggers: a
# maintenance or trigger script that shows nothing else is PostgreSQL's, not a tie between the two.
@pytest.mark.parametrize("script", [
    "SELECT relname, pg_size_pretty(pg_total_relation_size(c.oid)) FROM pg_class c;",
    "SELECT * FROM pg_catalog.pg_tables;\nCREATE TRIGGER t AFTER UPDATE ON accounts FOR EACH ROW EXECUTE PROCEDURE audit();",
    "SELECT tgname FROM pg_trigger;\nCREATE TRIGGER t BEFORE INSERT ON s.t\n  FOR EACH ROW EXECUTE FUNCTION s.stamp ();",
])
def test_what_redshift_lacks_decides_for_postgresql(script):
    verdict = detect_dialect(script)
    assert verdict.platform == dialect_probe.PLATFORM_POSTGRESQL
    assert verdict.runner_up == dialect_probe.PLATFORM_REDSHIFT


def test_lexicon_entries_are_valid_and_name_their_own_family():
    ids = [ident for ident, _, _ in _LEXICON]
    assert len(ids) == len(set(ids))
    for ident, platforms, pattern in _LEXICON:
        family = ident.split(".")[0]
        assert family in PLATFORM_NAMES.values(), ident
        assert family in {PLATFORM_NAMES[p] for p in platforms}, ident
        re.compile(pattern, re.IGNORECASE | re.MULTILINE)


def test_the_verdict_does_not_depend_on_the_strings_storage_width(corpus):
    # A trailing comment holding a wider character moves the whole text into two- or four-byte storage.
    files = sorted((corpus / "dialects").rglob("*.sql"))[::4]
    for path in files:
        text = path.read_text(encoding="utf-8", errors="replace")
        narrow = detect_dialect(text + "\n-- x")
        for wide_char in ("\u0100", "\U0001f600"):
            wide = detect_dialect(text + f"\n-- {wide_char}")
            assert (wide.platform, wide.scores) == (narrow.platform, narrow.scores), path.name
            assert [(e.id, e.line, e.text) for e in wide.evidence] == [
                (e.id, e.line, e.text) for e in narrow.evidence], path.name
