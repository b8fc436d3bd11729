"""Finding the objects a script defines: the install-script shape of the large T-SQL corpus, the defining
forms of each dialect, batch ends, names, and input that must not break the scan."""

import dataclasses
import re
from enum import StrEnum
from pathlib import Path

import pytest

from agents.tessera.inventory import ObjectKind, SqlObject, find_objects, find_objects_file

from .conftest import CORPUS

LARGE = sorted((CORPUS / "tsql-large").glob("*.sql")) if CORPUS else []


def expected_procedures(text):
    """Each procedure an install script defines, found the plain way: a line that starts with ALTER or
    CREATE PROCEDURE, up to the last non-blank line before the next GO line."""
    lines = text.splitlines()
    found = []
    for i, line in enumerate(lines):
        head = re.match(r"(ALTER|CREATE) PROCEDURE \[(\w+)\]\.\[(\w+)\]", line)
        if not head:
            continue
        end = next(j for j in range(i + 1, len(lines)) if re.fullmatch(r"GO\s*", lines[j]))
        while not lines[end - 1].strip():
            end -= 1
        found.append((f"{head[2]}.{head[3]}", head[1].lower(), i + 1, end))
    return found


@pytest.mark.skipif(not LARGE, reason="corpus not present beside the checkout")
@pytest.mark.parametrize("path", LARGE, ids=lambda p: p.name)
def test_every_procedure_of_an_install_script(path):
    text = path.read_text(encoding="utf-8")
    found = find_objects_file(path)
    procedures = [(o.name, o.statement, o.first_line, o.last_line) for o in found if o.kind == "procedure"]
    assert procedures == expected_procedures(text)
    # The stubs created through dynamic SQL are strings, not objects.
    stubs = [n for n, line in enumerate(text.splitlines(), 1) if "N'CREATE PROCEDURE" in line]
    assert len(stubs) == len(procedures)
    assert not {o.first_line for o in found} & set(stubs)
    # Temporary tables a procedure creates while it runs are part of it.
    assert all(o.first_line > p[3] or o.last_line < p[2] for o in found for p in procedures if o.kind != "procedure")


INSTALL_SCRIPT = """\
SET ANSI_NULLS ON
GO
IF NOT EXISTS (SELECT * FROM sys.objects WHERE name = 'usp_load')
BEGIN
EXEC dbo.sp_executesql @statement = N'CREATE PROCEDURE [dbo].[usp_load] AS'
END
GO
/* loads the day's orders */
ALTER PROCEDURE [dbo].[usp_load]
  @day date = NULL
WITH EXECUTE AS OWNER
AS
BEGIN
  CREATE TABLE #orders (id int)
  EXEC ('CREATE VIEW dbo.not_an_object AS SELECT 1')
  -- CREATE PROCEDURE dbo.commented_out
  SELECT 'GO' AS x
END

GO 2
CREATE TABLE dbo.audit (id int)
GO
"""


def test_install_script_alters_the_stub(objects):
    assert objects(INSTALL_SCRIPT) == [
        ("procedure", "dbo.usp_load", "alter", 9, 18),
        ("table", "dbo.audit", "create", 21, 21),
    ]


DIALECTS = {
    "oracle": (
        """\
CREATE OR REPLACE PACKAGE hr.pkg AS
  PROCEDURE a;
END pkg;
/
CREATE OR REPLACE PACKAGE BODY hr.pkg AS
  PROCEDURE a IS
  BEGIN
    EXECUTE IMMEDIATE 'CREATE TABLE t (x NUMBER)';
  END;
END pkg;
/

CREATE OR REPLACE EDITIONABLE FUNCTION "HR"."Net Pay" (x NUMBER) RETURN NUMBER IS
BEGIN
  RETURN x;
END;
/
CREATE GLOBAL TEMPORARY TABLE hr.scratch (id NUMBER) ON COMMIT DELETE ROWS;
CREATE SEQUENCE hr.seq START WITH 1;
create or replace public synonym pkg for hr.pkg;
CREATE PUBLIC DATABASE LINK remote CONNECT TO hr IDENTIFIED BY pw USING 'db';
""",
        [
            ("package", "hr.pkg", "create_or_replace", 1, 3),
            ("package_body", "hr.pkg", "create_or_replace", 5, 10),
            ("function", "HR.Net Pay", "create_or_replace", 13, 16),
            ("table", "hr.scratch", "create", 18, 18),
            ("sequence", "hr.seq", "create", 19, 19),
            ("other", "pkg", "create_or_replace", 20, 20),
            ("other", "remote", "create", 21, 21),
        ],
    ),
    "postgresql": (
        """\
CREATE SCHEMA IF NOT EXISTS sales;
CREATE FUNCTION sales.total(a int) RETURNS int AS $$
BEGIN
  CREATE TEMP TABLE x (a int);
  RETURN a; -- it's a quote inside the body
END;
$$ LANGUAGE plpgsql;

CREATE TABLE IF NOT EXISTS sales."Order Lines" (a int);
CREATE UNIQUE INDEX ix_lines ON sales."Order Lines" (a);
CREATE OR REPLACE FUNCTION sales.noop() RETURNS void
LANGUAGE plpgsql AS $body$ BEGIN PERFORM 'CREATE VIEW'; END $body$;
CREATE MATERIALIZED VIEW sales.mv AS SELECT 1;
""",
        [
            ("schema", "sales", "create", 1, 1),
            ("function", "sales.total", "create", 2, 7),
            ("table", "sales.Order Lines", "create", 9, 9),
            ("index", "ix_lines", "create", 10, 10),
            ("function", "sales.noop", "create_or_replace", 11, 12),
            ("view", "sales.mv", "create", 13, 13),
        ],
    ),
    "teradata": (
        """\
REPLACE PROCEDURE db.load_day (IN d DATE)
BEGIN
  CREATE VOLATILE TABLE vt (a INT) ON COMMIT PRESERVE ROWS;
  INSERT INTO vt SELECT 1;
END;

CREATE MACRO db.daily AS (
  SELECT 1;
);
REPLACE MACRO db.weekly AS (SELECT 2;);
CREATE MULTISET TABLE db.facts, NO FALLBACK (a INT);
REPLACE VIEW db.v AS SELECT * FROM db.facts;
""",
        [
            ("procedure", "db.load_day", "create_or_replace", 1, 5),
            ("macro", "db.daily", "create", 7, 9),
            ("macro", "db.weekly", "create_or_replace", 10, 10),
            ("table", "db.facts", "create", 11, 11),
            ("view", "db.v", "create_or_replace", 12, 12),
        ],
    ),
    "bigquery": (
        """\
CREATE TEMPORARY FUNCTION add_one(x INT64) AS (x + 1);
CREATE TEMP FUNCTION label(s STRING) AS (CONCAT('it\\'s ', s));
CREATE OR REPLACE TABLE `proj.ds.orders` AS
SELECT add_one(1) AS a;
CREATE TABLE FUNCTION ds.recent(n INT64) AS SELECT n;
""",
        [
            ("function", "add_one", "create", 1, 1),
            ("function", "label", "create", 2, 2),
            ("table", "proj.ds.orders", "create_or_replace", 3, 4),
            ("function", "ds.recent", "create", 5, 5),
        ],
    ),
    "snowflake": (
        """\
CREATE OR REPLACE SECURE VIEW db.sch.v AS SELECT 1 AS a;
CREATE OR REPLACE TRANSIENT TABLE db.sch.t (a INT);
CREATE OR REPLACE PROCEDURE db.sch.p()
RETURNS STRING LANGUAGE JAVASCRIPT AS
$$
  var sql = "CREATE TABLE not_an_object (a INT);";
  return sql;
$$;
CREATE STAGE db.sch.landing;
""",
        [
            ("view", "db.sch.v", "create_or_replace", 1, 1),
            ("table", "db.sch.t", "create_or_replace", 2, 2),
            ("procedure", "db.sch.p", "create_or_replace", 3, 8),
            ("other", "db.sch.landing", "create", 9, 9),
        ],
    ),
    "hive": (
        """\
CREATE DATABASE IF NOT EXISTS staging;
CREATE EXTERNAL TABLE IF NOT EXISTS staging.events (
  id INT,
  payload STRING COMMENT 'CREATE VIEW inside a comment string'
) STORED AS PARQUET;
CREATE TEMPORARY VIEW recent AS SELECT * FROM staging.events;
""",
        [
            ("other", "staging", "create", 1, 1),
            ("table", "staging.events", "create", 2, 5),
            ("view", "recent", "create", 6, 6),
        ],
    ),
    "mysql": (
        """\
# Shop schema: don't load it twice
CREATE TABLE shop.items (id INT AUTO_INCREMENT PRIMARY KEY, tag VARCHAR(8) DEFAULT '#1');
#==== routines, it's one section ====
DELIMITER //
CREATE PROCEDURE shop.restock(IN n INT)
BEGIN
  # the procedure's own work: not an object
  CREATE TEMPORARY TABLE t (a INT);
END //
DELIMITER ;
CREATE VIEW shop.v AS SELECT id FROM shop.items;
""",
        [
            ("table", "shop.items", "create", 2, 2),
            ("procedure", "shop.restock", "create", 5, 10),
            ("view", "shop.v", "create", 11, 11),
        ],
    ),
    "tsql": (
        """\
CREATE OR ALTER PROC dbo.a @x int = CAST(1 AS int) AS SELECT 1
GO
create function [dbo].[b]]c] () returns int as begin return 1 end
go
CREATE TRIGGER trg ON dbo.t AFTER INSERT AS
  CREATE TABLE #log (id int)
GO
ALTER TRIGGER trg ON dbo.t AFTER UPDATE AS SELECT 1
GO
ALTER PROCEDURE dbo.p RENAME TO q;
ALTER TABLE dbo.t ADD c int
CREATE TYPE dbo.Ids AS TABLE (id int)
CREATE SYNONYM dbo.s FOR dbo.t
CREATE TABLE #$t (id int)
""",
        [
            ("procedure", "dbo.a", "create_or_alter", 1, 1),
            ("function", "dbo.b]c", "create", 3, 3),
            ("trigger", "trg", "create", 5, 6),
            ("trigger", "trg", "alter", 8, 8),
            ("type", "dbo.Ids", "create", 12, 12),
            ("other", "dbo.s", "create", 13, 13),
            ("table", "#$t", "create", 14, 14),
        ],
    ),
}


@pytest.mark.parametrize("dialect", DIALECTS)
def test_defining_forms_of_each_dialect(objects, dialect):
    script, expected = DIALECTS[dialect]
    assert objects(script) == expected


@pytest.mark.parametrize(
    "script, expected",
    [
        # Leading comments and blank lines belong to no object; trailing ones end it early.
        ("-- header\n\nCREATE VIEW v AS\nSELECT 1\n\n-- about w\n/* more\n about w */\nCREATE VIEW w AS SELECT 2\n",
         [("view", "v", "create", 3, 4), ("view", "w", "create", 9, 9)]),
        # The name may stand on a later line, after a comment.
        ("CREATE PROCEDURE\n  -- the loader\n  dbo.load\nAS SELECT 1\n", [("procedure", "dbo.load", "create", 1, 4)]),
        # Two heads on one line: the second stays in the first object.
        ("CREATE TABLE a (x int); CREATE TABLE b (y int);\n", [("table", "a", "create", 1, 1)]),
        # A head after code on the same line doesn't start a statement.
        ("SELECT 1 CREATE TABLE a (x int)\n", []),
        # Blanks around the dots of a name are not part of it.
        ("CREATE TABLE db . dbo . t (x int)\n", [("table", "db.dbo.t", "create", 1, 1)]),
        # CR LF line ends count once; a form feed splits a line as str.splitlines does.
        ("GO\r\nCREATE VIEW v AS\r\nSELECT 1\r\nGO\r\n", [("view", "v", "create", 2, 3)]),
        ("SELECT 1\fCREATE VIEW v AS SELECT 1\n", [("view", "v", "create", 2, 2)]),
        # A table, view or index ends with its statement: the script's queries after it are not
        # part of it. Without a semicolon it runs to the next object or batch end.
        ("CREATE INDEX ix ON t (a);\nSELECT *\nFROM t;\nCREATE TABLE u\n(a int)\nINSERT u VALUES (1)\nGO\n",
         [("index", "ix", "create", 1, 1), ("table", "u", "create", 4, 6)]),
        # ALTER with a body defines; other ALTERs and look-alikes don't.
        ("ALTER FUNCTION f(int) OWNER TO bob;\nALTER VIEW v AS SELECT 1;\n", [("view", "v", "alter", 2, 2)]),
        ("CREATE PROCEDURE_X p\nCREATE PROCESS p\nREPLACE(a, b, c)\nREPLACE TABLE t (a int)\n", []),
    ],
)
def test_object_extent_and_heads(objects, script, expected):
    assert objects(script) == expected


@pytest.mark.parametrize(
    "script, expected",
    [
        # Dump tools write every routine and view with its definer, and views with their algorithm.
        ("CREATE DEFINER=`root`@`localhost` PROCEDURE `shop`.`restock`(IN n INT)\nBEGIN\n  SELECT n;\nEND ;;\n",
         [("procedure", "shop.restock", "`shop`.`restock`", "create", 1, 4)]),
        ("CREATE ALGORITHM=UNDEFINED DEFINER='app'@'%' SQL SECURITY INVOKER VIEW v AS SELECT 1;\n"
         "CREATE OR REPLACE DEFINER = CURRENT_USER() FUNCTION f() RETURNS INT RETURN 1;\n"
         "CREATE DEFINER = root@localhost\n  TRIGGER t BEFORE INSERT ON x FOR EACH ROW SET NEW.a = 1;\n",
         [("view", "v", "v", "create", 1, 1), ("function", "f", "f", "create_or_replace", 2, 2),
          ("trigger", "t", "t", "create", 3, 4)]),
        # A definer clause that names nobody leaves the head without a kind.
        ("CREATE DEFINER = PROCEDURE p() SELECT 1;\n", []),
        # A database role is a role: no database called ROLE.
        ("CREATE DATABASE ROLE IF NOT EXISTS db_reader;\nCREATE DATABASE sales;\n"
         "CREATE DATABASE SCOPED CREDENTIAL cred WITH IDENTITY = 'u';\n",
         [("other", "sales", "sales", "create", 2, 2)]),
        # IDENTIFIER() names the object by a string or a variable.
        ("create or replace table identifier('my_db.my_schema.my_table') (c1 number);\n"
         "CREATE TABLE IDENTIFIER ( '\"Mixed\"''s' ) (a int);\n"
         "CREATE SCHEMA IF NOT EXISTS IDENTIFIER($TARGET_SCHEMA) WITH MANAGED ACCESS;\n"
         "CREATE TABLE identifier (a int);\n",
         [("table", "my_db.my_schema.my_table", "identifier('my_db.my_schema.my_table')", "create_or_replace", 1, 1),
          ("table", "Mixed's", "IDENTIFIER ( '\"Mixed\"''s' )", "create", 2, 2),
          ("schema", "$TARGET_SCHEMA", "IDENTIFIER($TARGET_SCHEMA)", "create", 3, 3),
          ("table", "identifier", "identifier", "create", 4, 4)]),
        # A schema made for a role without a name of its own takes the role's name.
        ("CREATE SCHEMA IF NOT EXISTS AUTHORIZATION bob;\nCREATE SCHEMA sales AUTHORIZATION dbo;\n",
         [("schema", "bob", "bob", "create", 1, 1), ("schema", "sales", "sales", "create", 2, 2)]),
        ("CREATE INDEX CONCURRENTLY IF NOT EXISTS ix ON t (a);\n", [("index", "ix", "ix", "create", 1, 1)]),
        # Placeholders a client fills in before the script runs are part of the name.
        ("CREATE TABLE ${table}_citation\nSTORED AS PARQUET AS SELECT 1;\nCREATE TABLE ${db}.t_${day} (a int);\n"
         "CREATE TABLE ab${ (a int);\n",
         [("table", "${table}_citation", "${table}_citation", "create", 1, 2),
          ("table", "${db}.t_${day}", "${db}.t_${day}", "create", 3, 3), ("table", "ab", "ab", "create", 4, 4)]),
        # A procedure whose code lives in a staged file ends at the semicolon that ends its statement.
        ("CREATE OR REPLACE PROCEDURE p()\nRETURNS OBJECT\nLANGUAGE PYTHON\nHANDLER = 'x.compute'\n;\n\n"
         "CREATE OR REPLACE STAGE s;\n",
         [("procedure", "p", "p", "create_or_replace", 1, 5), ("other", "s", "s", "create_or_replace", 7, 7)]),
        # A function defined by a class or an expression ends with its line's statement; one whose
        # line opens a body of statements runs on to its END.
        ("CREATE TEMPORARY FUNCTION to_iso AS 'org.acme.ToIso';\n\nSET hive.auto.convert.join=false;\n"
         "DROP TABLE IF EXISTS t;\nCREATE TABLE t AS SELECT 1;\n",
         [("function", "to_iso", "to_iso", "create", 1, 1), ("table", "t", "t", "create", 5, 5)]),
        ("CREATE FUNCTION f() RETURNS INT BEGIN DECLARE x INT;\nSET x = 1;\nRETURN x;\nEND;\nCREATE TABLE t (a int);\n",
         [("function", "f", "f", "create", 1, 4), ("table", "t", "t", "create", 5, 5)]),
        ("CREATE PROC p AS SELECT 1;\nSELECT 2;\nGO\n", [("procedure", "p", "p", "create", 1, 2)]),
        # So does a trigger that runs one statement or calls a function; one whose body follows AS
        # runs on.
        ("CREATE TRIGGER t BEFORE UPDATE ON x FOR EACH ROW EXECUTE FUNCTION touch();\n\n"
         "ALTER TABLE ONLY x ADD CONSTRAINT pk PRIMARY KEY (id);\nCREATE VIEW v AS SELECT 1;\n"
         "CREATE CONSTRAINT TRIGGER u AFTER INSERT ON x REFERENCING NEW TABLE AS n EXECUTE PROCEDURE f();\n"
         "CREATE TABLE y (a int);\n",
         [("trigger", "t", "t", "create", 1, 1), ("view", "v", "v", "create", 4, 4),
          ("trigger", "u", "u", "create", 5, 5), ("table", "y", "y", "create", 6, 6)]),
        ("CREATE TRIGGER t ON x AFTER INSERT AS SELECT 1;\nCREATE TABLE #log (a int);\nGO\n",
         [("trigger", "t", "t", "create", 1, 2)]),
        # A routine's END may be followed by the script's own one-line statements and client
        # commands before the next head; an END that closes a block inside the routine may not.
        ("REPLACE PROCEDURE db.p ()\nBEGIN\n  CREATE VOLATILE TABLE vt (a INT);\nEND;\n"
         ".IF ERRORCODE <> 0 THEN .QUIT 8\nCALL db.p ();\nCREATE MULTISET TABLE db.t (a INT);\n",
         [("procedure", "db.p", "db.p", "create_or_replace", 1, 6), ("table", "db.t", "db.t", "create", 7, 7)]),
        ("CREATE PROCEDURE p()\nBEGIN\nIF x THEN\nSELECT 1;\nEND IF;\nSELECT 2;\nCREATE TABLE t (a int);\nEND;\n",
         [("procedure", "p", "p", "create", 1, 8)]),
    ],
)
def test_forms_met_in_real_scripts(script, expected):
    assert [(o.kind.value, o.name, o.raw_name, o.statement, o.first_line, o.last_line)
            for o in find_objects(script)] == expected


@pytest.mark.parametrize("wide", ["", "\u00e9", "\u20ac", "\U0001f600"])
def test_alternative_quoting_wherever_it_falls(objects, wide):
    # The quotes inside q'[...]' close nothing, whichever block of the scan the q and its quote
    # fall in; a q that ends a word, or stands inside a literal, opens nothing.
    body = ("CREATE OR REPLACE PROCEDURE p IS\nBEGIN\n  x := q'[it's]' || Nq'{o'k}' || uniq || 'seq' || 'q';\n"
            "END;\n/\nCREATE VIEW v AS SELECT q'<it's\nsplit>' a FROM dual;\nCREATE TABLE t (a NUMBER);\n")
    for pad in range(0, 140, 3):
        script = f"-- {wide}{'x' * pad}\n" + body
        assert objects(script) == [
            ("procedure", "p", "create_or_replace", 2, 5),
            ("view", "v", "create", 7, 8),
            ("table", "t", "create", 9, 9),
        ], pad


MYSQL_DUMP = """\
--
-- Table structure for table `items`
--

DROP TABLE IF EXISTS `items`;
/*!40101 SET @saved_cs_client     = @@character_set_client */;
/*!50503 SET character_set_client = utf8mb4 */;
CREATE TABLE `items` (
  `id` int NOT NULL AUTO_INCREMENT,
  `note` varchar(20) DEFAULT '*/ not a close',
  PRIMARY KEY (`id`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;
/*!40101 SET character_set_client = @saved_cs_client */;
/*!50003 SET @saved_sql_mode       = @@sql_mode */ ;
DELIMITER ;;
/*!50003 CREATE*/ /*!50017 DEFINER=`root`@`localhost`*/ /*!50003 TRIGGER `items_bi` BEFORE INSERT ON `items` FOR EACH ROW BEGIN
  SET NEW.note = 'x';
END */;;
DELIMITER ;
/*!50003 SET sql_mode              = @saved_sql_mode */ ;
DELIMITER ;;
CREATE DEFINER=`root`@`localhost` PROCEDURE `restock`(IN n INT)
BEGIN
  /* a plain comment: CREATE TABLE nothing (a int) */
  CREATE TEMPORARY TABLE t (a INT);
END ;;
DELIMITER ;
/*!50001 DROP VIEW IF EXISTS `v_items`*/;
/*!50001 CREATE ALGORITHM=UNDEFINED */
/*!50013 DEFINER=`root`@`localhost` SQL SECURITY DEFINER */
/*!50001 VIEW `v_items` AS select `items`.`id` AS `id` from `items` */;
/* CREATE VIEW in a plain comment */
"""


def test_a_dump_tools_script(objects):
    # Heads written inside comments that MySQL runs as code, routines ended by the client's DELIMITER
    # with the dump's own SET and DROP lines after them, and plain comments that hold heads.
    assert objects(MYSQL_DUMP) == [
        ("table", "items", "create", 8, 12),
        ("trigger", "items_bi", "create", 16, 21),
        ("procedure", "restock", "create", 22, 28),
        ("view", "v_items", "create", 29, 31),
    ]


@pytest.mark.parametrize(
    "script",
    [
        "",
        "CREATE",
        "CREATE PROCEDURE",
        "CREATE PROCEDURE\nGO\n",
        "CREATE TABLE (a int)",
        "GO\nGO 5\n\n  go\n/\n",
        "CREATE FUNCTION f() AS $$ unterminated",
        "/* CREATE TABLE t unterminated",
        "/*!", "/*!50003", "/*!50003 CREATE*/ /*!50017 DEFINER=", "*/ CREATE TABLE t (a int) */",
        "CREATE DEFINER=`unterminated PROCEDURE p() SELECT 1;", "CREATE TABLE IDENTIFIER('unterminated (a int)",
        "CREATE TABLE ${unterminated (a int)", "CREATE FUNCTION f AS ')' ; (",
        "SELECT 'unterminated\nCREATE TABLE t (a int)",
        "CREATE TABLE [unterminated\n(a int)",
        "CREATE TABLE \"half\nquoted\" (a int)",
        "$" * 100 + "$tag$" * 50,
        "[" * 1000 + "\n" + "(" * 1000,
        "\ufeffCREATE VIEW \U0001f600 AS SELECT 1",
    ],
)
def test_bad_input_gives_sound_objects_or_none(script):
    found = find_objects(script)
    total = len(script.splitlines())
    for o in found:
        assert 1 <= o.first_line <= o.last_line <= total
        assert o.name


def test_name_split_over_lines_is_not_joined():
    # A quoted name part can't run over a line break; the part before it is the name.
    assert [o.name for o in find_objects('CREATE TABLE dbo."half\nquoted" (a int)')] == ["dbo"]


def test_wide_storage_gives_the_same_objects(objects):
    script, expected = DIALECTS["tsql"]
    for extra in ("é", "\u20ac", "\U0001f600"):
        assert objects(f"-- {extra}\n" + script) == [(k, n, s, a + 1, b + 1) for k, n, s, a, b in expected]
    assert objects("CREATE TABLE dbo.Grüße (a int)\u2028CREATE VIEW ü AS SELECT 1") == [
        ("table", "dbo.Grüße", "create", 1, 1),
        ("view", "ü", "create", 2, 2),
    ]


def test_records_are_the_hosts_types():
    (o,) = find_objects("CREATE OR ALTER PROC [dbo].[p] AS SELECT 1")
    assert dataclasses.is_dataclass(o) and isinstance(o, SqlObject)
    assert [f.name for f in dataclasses.fields(SqlObject)] == [
        "kind", "name", "raw_name", "statement", "first_line", "last_line"]
    assert o == SqlObject(ObjectKind.PROCEDURE, "dbo.p", "[dbo].[p]", "create_or_alter", 1, 1)
    with pytest.raises(dataclasses.FrozenInstanceError):
        o.name = "x"
    assert issubclass(ObjectKind, StrEnum) and o.kind == "procedure"
    assert [k.value for k in ObjectKind] == [
        "procedure", "function", "view", "trigger", "table", "index", "schema", "sequence", "type",
        "package", "package_body", "macro", "other"]
    assert repr(o) == ("SqlObject(kind=<ObjectKind.PROCEDURE: 'procedure'>, name='dbo.p', raw_name='[dbo].[p]', "
                       "statement='create_or_alter', first_line=1, last_line=1)")


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: find_objects(None), "Argument 'text' has incorrect type (expected str, got NoneType)"),
        (lambda: find_objects(type("S", (str,), {})("x")), "Argument 'text' has incorrect type (expected str, got S)"),
        (lambda: find_objects(), "find_objects() takes exactly 1 positional argument (0 given)"),
        (lambda: find_objects("a", "b"), "find_objects() takes exactly 1 positional argument (2 given)"),
        (lambda: find_objects(sql="a"), "find_objects() got an unexpected keyword argument 'sql'"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as raised:
        call()
    assert str(raised.value) == message


def test_file_is_read_as_classify_sql_file_reads_it(tmp_path):
    path = tmp_path / "x.sql"
    path.write_bytes(b"\xef\xbb\xbfGO\r\nCREATE VIEW v AS\rSELECT 1\r\n")
    assert [(o.first_line, o.last_line) for o in find_objects_file(path)] == [(2, 3)]
    with pytest.raises(AttributeError):
        find_objects_file(str(path))
    (tmp_path / "bad.sql").write_bytes(b"\xff")
    with pytest.raises(UnicodeDecodeError):
        find_objects_file(tmp_path / "bad.sql")
    with pytest.raises(FileNotFoundError):
        find_objects_file(Path(tmp_path / "missing.sql"))
