// The detector's own lexicon: built-in functions, data types, keywords, statement forms, identifier
// quoting, variable and parameter styles and batch separators that the platforms' reference manuals
// document as theirs. Each entry lists every platform whose manual documents the form, not only the one
// it is best known for, so that the fitted weights (weights.hpp) see how widely a form is shared; an
// entry shared by many platforms ends up weighing little. The catalogue's own markers are not repeated.
//
// Patterns are compiled with IGNORECASE | MULTILINE, like the markers, and run on the same matcher.
#pragma once

#include <cstdint>

namespace tessera::dialect_detect {

// Bit i stands for the i-th platform constant in the order dialect_probe lists them.
enum : std::uint16_t {
  DBX = 1 << 0,  // databricks
  SNO = 1 << 1,  // snowflake
  PG = 1 << 2,   // postgresql
  MY = 1 << 3,   // mysql
  MS = 1 << 4,   // sqlserver
  ORA = 1 << 5,  // oracle
  RS = 1 << 6,   // redshift
  BQ = 1 << 7,   // bigquery
  TD = 1 << 8,   // teradata
  HV = 1 << 9,   // hive
};
inline constexpr int kPlatforms = 10;

struct LexiconEntry {
  const char* id;
  std::uint16_t platforms;
  const char* pattern;
};

// clang-format off
inline constexpr LexiconEntry kLexicon[] = {
    // ---- oracle -------------------------------------------------------------------------------------
    {"oracle.nvl_function",            ORA | SNO | RS | TD | HV | DBX, R"re(\bNVL2?\s*\()re"},
    {"oracle.decode_function",         ORA | SNO | RS | TD,            R"re(\bDECODE\s*\()re"},
    {"oracle.sysdate",                 ORA | RS | SNO | MY,            R"re(\bSYSDATE\b)re"},
    {"oracle.systimestamp",            ORA,                            R"re(\bSYSTIMESTAMP\b)re"},
    {"oracle.rownum",                  ORA,                            R"re(\bROWNUM\b)re"},
    {"oracle.from_dual",               ORA | MY,                       R"re(\bFROM\s+DUAL\b)re"},
    {"oracle.number_precision",        ORA | SNO | TD,                 R"re(\bNUMBER\s*\(\s*\d+)re"},
    {"oracle.when_others",             ORA | PG,                       R"re(\bWHEN\s+OTHERS\s+THEN\b)re"},
    {"oracle.type_anchor",             ORA | PG,                       R"re(\w%(?:ROW)?TYPE\b)re"},
    {"oracle.cursor_attributes",       ORA,                            R"re(\w%(?:FOUND|NOTFOUND|ISOPEN|ROWCOUNT|BULK_ROWCOUNT)\b)re"},
    {"oracle.connect_by",              ORA | SNO,                      R"re(\bCONNECT\s+BY\b)re"},
    {"oracle.execute_immediate",       ORA | SNO | BQ,                 R"re(\bEXECUTE\s+IMMEDIATE\b)re"},
    {"oracle.sequence_nextval",        ORA | SNO,                      R"re(\w\.(?:NEXTVAL|CURRVAL)\b)re"},
    {"oracle.elsif",                   ORA | PG,                       R"re(\bELSIF\b)re"},
    {"oracle.sqlplus_settings",        ORA,                            R"re(^[ \t]*SET\s+(?:ECHO|FEEDBACK|VERIFY|LINESIZE|LINES|PAGESIZE|PAGES|DEFINE|HEADING|TERMOUT|TRIMSPOOL|TIMING|SQLBLANKLINES|LONG|TAB|SCAN)\b)re"},
    {"oracle.sqlplus_script_call",     ORA,                            R"re(^[ \t]*@@?[\w$&/.-]+\.(?:sql|pks|pkb|plb|pls|prc|fnc|trg|vw)\b|^[ \t]*@@[\w$&/.-]+)re"},
    {"oracle.substitution_variable",   ORA,                            R"re(\B&&?[A-Za-z_]\w*)re"},
    {"oracle.dictionary_views",        ORA,                            R"re(\b(?:USER|ALL|DBA)_(?:TABLES|OBJECTS|TAB_COLUMNS|SOURCE|SEQUENCES|INDEXES|IND_COLUMNS|CONSTRAINTS|CONS_COLUMNS|USERS|VIEWS|PROCEDURES|TRIGGERS|SYNONYMS|DEPENDENCIES|ERRORS|TAB_PRIVS|ROLE_PRIVS|SYS_PRIVS|SCHEDULER_JOBS|TYPES|ARGUMENTS|TAB_COMMENTS|COL_COMMENTS)\b|\bV\$\w+)re"},
    {"oracle.sys_functions",           ORA,                            R"re(\bSYS_(?:GUID|CONTEXT|REFCURSOR|EXTRACT_UTC)\b)re"},
    {"oracle.pipelined",               ORA,                            R"re(\bPIPELINED\b|\bPIPE\s+ROW\b)re"},
    {"oracle.return_is",               ORA,                            R"re(\bRETURN\s+\w+(?:\.\w+)?(?:%\w+)?\s+(?:IS|AS)\b)re"},
    {"oracle.char_semantics",          ORA,                            R"re(\bVARCHAR2?\s*\(\s*\d+\s+(?:CHAR|BYTE)\s*\))re"},
    {"oracle.storage_clauses",         ORA,                            R"re(\bNOLOGGING\b|\bPCTFREE\b|\bINITRANS\b|\bMAXTRANS\b|\bSTORAGE\s*\(\s*INITIAL\b)re"},
    {"oracle.novalidate",              ORA | HV,                       R"re(\bNOVALIDATE\b)re"},
    {"oracle.lob_types",               ORA | TD,                       R"re(\bCLOB\b|\bNCLOB\b|\bBFILE\b)re"},
    {"oracle.raw_type",                ORA,                            R"re(\bLONG\s+RAW\b|\bRAW\s*\(\s*\d+\s*\))re"},
    {"oracle.listagg",                 ORA | SNO | RS,                 R"re(\bLISTAGG\s*\()re"},
    {"oracle.regexp_like",             ORA | SNO | MY | DBX,           R"re(\bREGEXP_LIKE\s*\()re"},
    {"oracle.create_synonym",          ORA | MS,                       R"re(\bCREATE\s+(?:OR\s+REPLACE\s+)?(?:PUBLIC\s+)?SYNONYM\b)re"},
    {"oracle.exit_when",               ORA | PG,                       R"re(\bEXIT\s+WHEN\b)re"},
    {"oracle.bind_variable",           ORA | SNO,                      R"re((?:^|[ \t(,=]):[A-Za-z_]\w*)re"},
    {"oracle.plsql_is_begin",          ORA,                            R"re(\b(?:PROCEDURE|FUNCTION)\s+[\w."$]+\s*(?:\([^()]*(?:\([^()]*\)[^()]*)*\))?\s*(?:RETURN\s+\w+\s+)?IS[ \t]*(?:--[^\n]*)?$)re"},
    {"oracle.sqlerrm",                 ORA | PG | SNO | RS,                       R"re(\bSQLERRM\b)re"},
    {"oracle.to_char",                 ORA | PG | SNO | RS | TD,       R"re(\bTO_CHAR\s*\()re"},
    {"oracle.to_number",               ORA | PG | SNO | RS | TD,       R"re(\bTO_NUMBER\s*\()re"},
    {"oracle.add_months",              ORA | SNO | RS | TD | HV | DBX, R"re(\bADD_MONTHS\s*\()re"},
    {"oracle.alter_session",           ORA | SNO,                      R"re(\bALTER\s+SESSION\s+SET\b)re"},

    // ---- sqlserver ----------------------------------------------------------------------------------
    {"sqlserver.isnull_function",      MS | MY | HV | DBX,             R"re(\bISNULL\s*\()re"},
    {"sqlserver.getdate",              MS | RS,                        R"re(\bGETDATE\s*\(\s*\)|\bGETUTCDATE\s*\(|\bSYSDATETIME\s*\(|\bSYSUTCDATETIME\s*\()re"},
    {"sqlserver.declare_at_variable",  MS,                             R"re(\bDECLARE\s+@[A-Za-z_])re"},
    {"sqlserver.at_variable",          MS | MY | BQ | SNO,             R"re((?<![\w@$#.])@[A-Za-z_]\w*)re"},
    {"sqlserver.bracketed_name",       MS,                             R"re((?<![\w\]])\[[A-Za-z_][\w$#@]*\]\s*(?:\.|,|\)|=)|\bON\s+\[PRIMARY\])re"},
    {"sqlserver.bracketed_column_type", MS,                            R"re(\[[A-Za-z_][\w$#@ ]*\]\s+(?:\[?N?VARCHAR|\[?N?CHAR|\[?INT|\[?BIGINT|\[?SMALLINT|\[?TINYINT|\[?BIT|\[?DATETIME2?|\[?DATE|\[?DECIMAL|\[?NUMERIC|\[?FLOAT|\[?MONEY|\[?UNIQUEIDENTIFIER|\[?SYSNAME|\[?VARBINARY|\[?XML)\b)re"},
    {"sqlserver.varchar_max",          MS | RS,                        R"re(\b(?:N?VARCHAR|VARBINARY)\s*\(\s*MAX\s*\))re"},
    {"sqlserver.unicode_literal",      MS | MY | ORA,                  R"re(\bN')re"},
    {"sqlserver.identity_seed",        MS | RS | SNO,                  R"re(\bIDENTITY\s*\(\s*\d+\s*,\s*\d+\s*\))re"},
    {"sqlserver.dbo_schema",           MS,                             R"re(\bdbo\s*\.|\[dbo\])re"},
    {"sqlserver.system_catalog",       MS,                             R"re(\bsys\s*\.\s*(?:objects|tables|columns|indexes|databases|schemas|procedures|dm_\w+|partitions|types|sql_modules|foreign_keys|index_columns|stats|filegroups|database_files|master_files|server_principals|database_principals|all_objects|allocation_units|sysobjects|sysindexes|syscolumns)\b|\bmaster\s*\.\s*dbo\b|\bmsdb\s*\.)re"},
    {"sqlserver.metadata_functions",   MS,                             R"re(\b(?:OBJECT_ID|OBJECT_NAME|SCHEMA_NAME|DB_NAME|DB_ID|OBJECTPROPERTY|DATABASEPROPERTYEX|SERVERPROPERTY|COL_LENGTH|TYPE_NAME|SUSER_SNAME|HOST_NAME)\s*\()re"},
    {"sqlserver.if_exists_select",     MS,                             R"re(\bIF\s+(?:NOT\s+)?EXISTS\s*\(\s*SELECT\b)re"},
    {"sqlserver.transaction_abbrev",   MS,                             R"re(\bBEGIN\s+TRAN\b|\b(?:COMMIT|ROLLBACK)\s+TRAN(?:SACTION)?\b)re"},
    {"sqlserver.print_statement",      MS,                             R"re(^[ \t]*PRINT\b)re"},
    {"sqlserver.create_or_alter",      MS,                             R"re(\bCREATE\s+OR\s+ALTER\b)re"},
    {"sqlserver.proc_abbreviation",    MS,                             R"re(\b(?:CREATE|ALTER)\s+PROC\s)re"},
    {"sqlserver.datepart_functions",   MS,                             R"re(\bDATEPART\s*\(|\bDATENAME\s*\(|\bEOMONTH\s*\(|\bDATEFROMPARTS\s*\()re"},
    {"sqlserver.dateadd",              MS | SNO | RS,                  R"re(\bDATEADD\s*\()re"},
    {"sqlserver.len_charindex",        MS | SNO | RS,                  R"re(\bLEN\s*\(|\bCHARINDEX\s*\()re"},
    {"sqlserver.tsql_functions",       MS,                             R"re(\bQUOTENAME\s*\(|\bSTUFF\s*\(|\bSCOPE_IDENTITY\s*\(|\bNEWID\s*\(\s*\)|\bIIF\s*\(|\bPATINDEX\s*\(|\bREPLICATE\s*\(|\bSTRING_SPLIT\s*\()re"},
    {"sqlserver.session_options",      MS,                             R"re(\bSET\s+(?:ANSI_NULLS|QUOTED_IDENTIFIER|XACT_ABORT|ANSI_PADDING|ANSI_WARNINGS|ARITHABORT|CONCAT_NULL_YIELDS_NULL|NUMERIC_ROUNDABORT|DATEFIRST|DEADLOCK_PRIORITY|LOCK_TIMEOUT|STATISTICS\s+(?:IO|TIME)|IDENTITY_INSERT|ROWCOUNT|IMPLICIT_TRANSACTIONS)\b)re"},
    {"sqlserver.apply_join",           MS | ORA,                       R"re(\b(?:CROSS|OUTER)\s+APPLY\b)re"},
    {"sqlserver.waitfor",              MS,                             R"re(\bWAITFOR\s+(?:DELAY|TIME)\b)re"},
    {"sqlserver.tsql_types",           MS,                             R"re(\bSYSNAME\b|\bNTEXT\b|\bDATETIMEOFFSET\b|\bSMALLMONEY\b|\bROWVERSION\b)re"},
    {"sqlserver.fetch_status",         MS,                             R"re(@@(?:FETCH_STATUS|SPID|PROCID|DATEFIRST|LANGUAGE|OPTIONS|SERVICENAME|NESTLEVEL|LOCK_TIMEOUT|DBTS|MAX_PRECISION|MICROSOFTVERSION)\b)re"},
    {"sqlserver.exec_dynamic",         MS,                             R"re(\bEXEC(?:UTE)?\s*\(\s*@|\bEXEC(?:UTE)?\s+@\w+\s*=)re"},
    {"sqlserver.clustered_index",      MS,                             R"re(\bNONCLUSTERED\b|\bCLUSTERED\s+(?:COLUMNSTORE\s+)?INDEX\b|\bPRIMARY\s+KEY\s+CLUSTERED\b)re"},
    {"sqlserver.convert_to_type",      MS | RS,                        R"re(\bCONVERT\s*\(\s*(?:N?VARCHAR|N?CHAR|INT|BIGINT|DATE|DATETIME2?|DECIMAL|NUMERIC|FLOAT|BIT|MONEY|TIME|VARBINARY|SMALLINT|TINYINT|UNIQUEIDENTIFIER)\b)re"},
    {"sqlserver.output_parameter",     MS,                             R"re(@\w+\s+[\w.]+(?:\s*\([^)]*\))?\s+OUT(?:PUT)?\b)re"},
    {"sqlserver.string_agg",           MS | PG | BQ,                   R"re(\bSTRING_AGG\s*\()re"},
    {"sqlserver.execute_as",           MS | SNO,                       R"re(\bEXECUTE\s+AS\s+(?:CALLER|OWNER|SELF)\b)re"},
    {"sqlserver.go_count",             MS,                             R"re(^[ \t]*GO[ \t]+\d+[ \t]*$)re"},

    // ---- mysql --------------------------------------------------------------------------------------
    {"mysql.ifnull",                   MY | BQ | SNO | DBX,            R"re(\bIFNULL\s*\()re"},
    {"mysql.limit_offset_count",       MY,                             R"re(\bLIMIT\s+\d+\s*,\s*\d+)re"},
    {"mysql.unsigned",                 MY,                             R"re(\bUNSIGNED\b)re"},
    {"mysql.charset_option",           MY,                             R"re(\bDEFAULT\s+CHARSET\b|\bCHARSET\s*=\s*\w+|\bCOLLATE\s*=?\s*utf8\w*)re"},
    {"mysql.lock_tables",              MY,                             R"re(\b(?:UN)?LOCK\s+TABLES\b)re"},
    {"mysql.inline_key",               MY,                             R"re(\bKEY\s+(?!(?:NON)?CLUSTERED\b)`?\w+`?\s*\()re"},
    {"mysql.definer",                  MY,                             R"re(\bDEFINER\s*=|\bSQL\s+SECURITY\s+(?:DEFINER|INVOKER)\b)re"},
    {"mysql.declare_handler",          MY,                             R"re(\bDECLARE\s+(?:CONTINUE|EXIT|UNDO)\s+HANDLER\b)re"},
    {"mysql.leave_iterate",            MY | TD,                        R"re(\b(?:LEAVE|ITERATE)\s+\w+\s*;)re"},
    {"mysql.elseif",                   MY | TD | BQ | SNO,             R"re(\bELSEIF\b)re"},
    {"mysql.date_functions",           MY,                             R"re(\bSTR_TO_DATE\s*\(|\bCURDATE\s*\(|\bCURTIME\s*\(|\bTIMESTAMPDIFF\s*\(|\bTIMESTAMPADD\s*\()re"},
    {"mysql.unix_time",                MY | HV | DBX,                  R"re(\bUNIX_TIMESTAMP\s*\(|\bFROM_UNIXTIME\s*\()re"},
    {"mysql.date_format",              MY | HV | DBX,                  R"re(\bDATE_FORMAT\s*\()re"},
    {"mysql.insert_ignore_replace",    MY,                             R"re(\bINSERT\s+IGNORE\b|\bREPLACE\s+INTO\b)re"},
    {"mysql.text_blob_types",          MY,                             R"re(\b(?:TINY|MEDIUM|LONG)(?:TEXT|BLOB)\b)re"},
    {"mysql.user_variable_assign",     MY,                             R"re(@\w+\s*:=)re"},
    {"mysql.end_custom_delimiter",     MY,                             R"re(\bEND\s*(?:\$\$|//|;;)[ \t]*$)re"},
    {"mysql.load_data_infile",         MY,                             R"re(\bLOAD\s+DATA\s+(?:LOCAL\s+)?INFILE\b)re"},
    {"mysql.regexp_operator",          MY | HV | DBX,                  R"re(\bREGEXP\b|\bRLIKE\b)re"},
    {"mysql.show_statement",           MY | HV | DBX | SNO,            R"re(^[ \t]*SHOW\s+(?:TABLES|DATABASES|CREATE|COLUMNS|INDEX|VARIABLES|STATUS|PROCESSLIST|GRANTS|WARNINGS)\b)re"},
    {"mysql.global_session_vars",      MY,                             R"re(@@(?:GLOBAL|SESSION|LOCAL)\.|\bSET\s+GLOBAL\s+\w+\s*=|\bSET\s+SESSION\s+\w+\s*=)re"},
    {"mysql.column_comment",           MY | HV | DBX | SNO,           R"re(\bCOMMENT\s+'|\bCOMMENT\s*=\s*')re"},
    {"mysql.hash_line_comment",        MY | BQ,                        R"re(^[ \t]*#(?:[ \t]|$))re"},
    {"mysql.index_hints",              MY,                             R"re(\b(?:FORCE|USE|IGNORE)\s+INDEX\s*\()re"},
    {"mysql.backtick_column",          MY | BQ | DBX | HV,             R"re(\w\.`\w+`)re"},
    {"mysql.if_function",              MY | BQ | HV | DBX,             R"re(\bIF\s*\((?:[^(),]|\([^()]*\))*,(?:[^(),]|\([^()]*\))*,)re"},
    {"mysql.alter_column_position",    MY,                             R"re(\bADD\s+(?:COLUMN\s+)?`?\w+`?\s+\w+(?:\s*\([^)]*\))?[^,;\n]*\bAFTER\s+`?\w)re"},
    {"mysql.double_bool_types",        MY,                             R"re(\bDOUBLE\s*\(\s*\d+\s*,\s*\d+\s*\)|\bTINYINT\s*\(\s*1\s*\))re"},

    // ---- postgresql ---------------------------------------------------------------------------------
    {"postgresql.positional_parameter", PG | SNO | RS,                 R"re(\$\d+\b)re"},
    {"postgresql.language_plpgsql",    PG | RS,                             R"re(\bLANGUAGE\s+'?plpgsql\b)re"},
    {"postgresql.returns_setof_trigger", PG,                           R"re(\bRETURNS\s+(?:SETOF|TRIGGER)\b)re"},
    {"postgresql.returns_table",       PG | SNO,                       R"re(\bRETURNS\s+TABLE\s*\()re"},
    {"postgresql.raise_level",         PG | RS,                        R"re(\bRAISE\s+(?:NOTICE|EXCEPTION|WARNING|INFO|DEBUG|LOG)\b)re"},
    {"postgresql.serial_type",         PG,                             R"re(\b(?:SMALL|BIG)?SERIAL\b)re"},
    {"postgresql.timestamptz",         PG | RS | SNO,                  R"re(\bTIMESTAMPTZ\b|\bTIMETZ\b)re"},
    {"postgresql.jsonb",               PG,                             R"re(\bJSONB\b|\bJSONB_\w+\s*\(|\bJSON_BUILD_OBJECT\s*\(|\bJSON_AGG\s*\(|\bROW_TO_JSON\s*\(|\bTO_JSONB?\s*\()re"},
    {"postgresql.generate_series",     PG,                             R"re(\bGENERATE_SERIES\s*\()re"},
    {"postgresql.system_catalog",      PG | RS,                        R"re(\bpg_(?:catalog|class|namespace|attribute|proc|stat\w*|tables|views|indexes|roles|user|database|settings|locks|trigger|type|constraint|get_\w+|sleep|advisory_\w+|backend_pid|terminate_backend|cancel_backend|table_def|description)\b)re"},
    {"postgresql.returning",           PG | ORA,                       R"re(\bRETURNING\s+(?:\*|\w+))re"},
    {"postgresql.index_methods",       PG,                             R"re(\bUSING\s+(?:GIN|GIST|BRIN|SPGIST)\b|\bCONCURRENTLY\b)re"},
    // Database object size functions: not in Redshift, which leaves them out of its PostgreSQL.
    {"postgresql.object_size_functions", PG,                           R"re(\bpg_(?:size_pretty|relation_size|total_relation_size|table_size|indexes_size|database_size|column_size|tablespace_size)\s*\()re"},
    // A trigger calls a function of its own.
    {"postgresql.trigger_function_call", PG,                           R"re(\bEXECUTE\s+(?:PROCEDURE|FUNCTION)\s+[\w."]+\s*\()re"},
    {"postgresql.do_block",            PG,                             R"re(^[ \t]*DO\s+(?:LANGUAGE\s+\w+\s+)?\$)re"},
    {"postgresql.perform",             PG,                             R"re(\bPERFORM\b)re"},
    {"postgresql.owner_to",            PG | RS,                        R"re(\bOWNER\s+TO\b)re"},
    {"postgresql.search_path",         PG | RS,                        R"re(\bsearch_path\b)re"},
    {"postgresql.psql_variables",      PG,                             R"re(:'\w+'|:"\w+"|^[ \t]*\\set\b)re"},
    {"postgresql.enum_type",           PG,                             R"re(\bAS\s+ENUM\s*\()re"},
    {"postgresql.settings_functions",  PG,                             R"re(\bcurrent_setting\s*\(|\bset_config\s*\()re"},
    {"postgresql.nextval",             PG,                             R"re(\bnextval\s*\(\s*')re"},
    {"postgresql.escape_string",       PG,                             R"re(\bE')re"},
    {"postgresql.copy_stdin",          PG,                             R"re(\bFROM\s+STDIN\b|\bTO\s+STDOUT\b)re"},
    {"postgresql.regex_match_operators", PG | RS,                      R"re(!~\*?|~\*)re"},
    {"postgresql.bpchar",              PG | RS,                        R"re(\bBPCHAR\b)re"},
    {"postgresql.unnest",              PG | BQ,                        R"re(\bUNNEST\s*\()re"},
    {"postgresql.comment_on",          PG | ORA | SNO | RS,            R"re(\bCOMMENT\s+ON\s+(?:TABLE|COLUMN|VIEW|SCHEMA|FUNCTION|INDEX|DATABASE|TYPE|SEQUENCE)\b)re"},
    {"postgresql.volatility",          PG | SNO | RS,                  R"re(\bIMMUTABLE\b|\bSTABLE\s+(?:STRICT|PARALLEL|SECURITY|LANGUAGE|AS)\b)re"},
    {"postgresql.double_quoted_path",  PG | ORA | SNO | RS | TD,       R"re("[A-Za-z_][\w$]*"\s*\.\s*"?[A-Za-z_])re"},

    // ---- redshift -----------------------------------------------------------------------------------
    {"redshift.copy_options",          RS,                             R"re(\bIGNOREHEADER\b|\bBLANKSASNULL\b|\bEMPTYASNULL\b|\bTRUNCATECOLUMNS\b|\bACCEPTINVCHARS\b|\bCOMPUPDATE\b|\bSTATUPDATE\b|\bACCEPTANYDATE\b|\bFILLRECORD\b|\bTIMEFORMAT\s+(?:AS\s+)?')re"},
    {"redshift.spectrum_schema",       RS,                             R"re(\bCREATE\s+EXTERNAL\s+SCHEMA\b|\bFROM\s+DATA\s+CATALOG\b)re"},
    {"redshift.convert_timezone",      RS | SNO,                       R"re(\bCONVERT_TIMEZONE\s*\()re"},
    {"redshift.vacuum_analyze",        RS,                             R"re(\bANALYZE\s+COMPRESSION\b|\bVACUUM\s+(?:SORT|DELETE)\s+ONLY\b|\bVACUUM\s+REINDEX\b)re"},
    {"redshift.wlm",                   RS,                             R"re(\bWLM_\w+|\bquery_group\b)re"},
    {"redshift.getdate_functions",     RS,                             R"re(\bSTRTOL\s*\(|\bDATE_PART_YEAR\s*\(|\bGETDATE\s*\(\s*\)\s*-|\bBPCHARCMP\s*\()re"},
    {"redshift.language_plpythonu",    RS | PG,                        R"re(\bLANGUAGE\s+plpythonu\b)re"},

    // ---- snowflake ----------------------------------------------------------------------------------
    {"snowflake.variant_type",         SNO,                            R"re(\bVARIANT\b)re"},
    {"snowflake.semi_structured_functions", SNO,                       R"re(\b(?:OBJECT_CONSTRUCT(?:_KEEP_NULL)?|ARRAY_CONSTRUCT(?:_COMPACT)?|OBJECT_INSERT|OBJECT_DELETE|OBJECT_KEYS|ARRAY_SIZE|TRY_PARSE_JSON|OBJECT_AGG|STRIP_NULL_VALUE|ARRAY_APPEND|AS_VARCHAR|TYPEOF)\s*\()re"},
    {"snowflake.parse_json",           SNO | BQ,                       R"re(\bPARSE_JSON\s*\()re"},
    {"snowflake.flatten_input",        SNO,                            R"re(\bFLATTEN\s*\(\s*INPUT\s*=>|\bTABLE\s*\(\s*FLATTEN\b)re"},
    {"snowflake.use_role",             SNO,                            R"re(\bUSE\s+(?:ROLE|SECONDARY\s+ROLES)\b|\bDATABASE\s+ROLE\b)re"},
    {"snowflake.grant_to_role",        SNO | RS,                       R"re(\bTO\s+ROLE\b|\bGRANT\s+ROLE\b)re"},
    {"snowflake.stage_objects",        SNO,                            R"re(\bCREATE\s+(?:OR\s+REPLACE\s+)?(?:TEMP(?:ORARY)?\s+)?STAGE\b|\bFILE_FORMAT\s*=|\bCOPY\s+INTO\s+@|\bLIST\s+@|\bPUT\s+file://)re"},
    {"snowflake.identifier_function",  SNO,                            R"re(\bIDENTIFIER\s*\()re"},
    {"snowflake.session_variable",     SNO,                            R"re((?<![\w$])\$[A-Za-z_]\w*(?![\w$]))re"},
    {"snowflake.scripting",            SNO,                            R"re(\bRESULTSET\b|\bLET\s+\w+\s+(?:RESULTSET|CURSOR|VARCHAR|NUMBER|INTEGER|BOOLEAN|VARIANT|STRING|FLOAT)\b|\bSQLROWCOUNT\b)re"},
    {"snowflake.language_javascript",  SNO,                            R"re(\bLANGUAGE\s+JAVASCRIPT\b|\bLANGUAGE\s+PYTHON\s+RUNTIME_VERSION\b|\bRUNTIME_VERSION\s*=)re"},
    {"snowflake.iff",                  SNO,                            R"re(\bIFF\s*\()re"},
    {"snowflake.try_to_functions",     SNO,                            R"re(\bTRY_TO_(?:NUMBER|NUMERIC|DECIMAL|DATE|TIMESTAMP(?:_NTZ|_LTZ|_TZ)?|BOOLEAN|DOUBLE|TIME|BINARY|GEOGRAPHY)\s*\()re"},
    {"snowflake.try_cast",             SNO | MS | DBX,                 R"re(\bTRY_CAST\s*\()re"},
    {"snowflake.context_functions",    SNO,                            R"re(\bCURRENT_(?:WAREHOUSE|ROLE|ACCOUNT|REGION|ORGANIZATION_NAME|ACCOUNT_NAME|SECONDARY_ROLES|AVAILABLE_ROLES|CLIENT|SESSION)\s*\(|\bSYSTEM\$\w+|\bSNOWFLAKE\.ACCOUNT_USAGE\b)re"},
    {"snowflake.secure_transient",     SNO,                            R"re(\bSECURE\s+(?:MATERIALIZED\s+)?(?:VIEW|FUNCTION)\b|\bTRANSIENT\s+(?:TABLE|SCHEMA|DATABASE)\b)re"},
    {"snowflake.account_objects",      SNO,                            R"re(\bCREATE\s+(?:OR\s+REPLACE\s+)?(?:FILE\s+FORMAT|PIPE|NETWORK\s+POLICY|(?:STORAGE\s+|NOTIFICATION\s+|API\s+|SECURITY\s+)?INTEGRATION|SHARE|RESOURCE\s+MONITOR|ALERT|APPLICATION\s+PACKAGE|STREAMLIT|SECRET|TAG)\b)re"},
    {"snowflake.colon_path",           SNO | DBX,                      R"re(\w:[A-Za-z_]\w*(?:\.[A-Za-z_]\w*|\[\d+\])*::)re"},
    {"snowflake.cluster_by_list",      SNO | DBX | BQ,                 R"re(\bCLUSTER\s+BY\s*\()re"},
    {"snowflake.match_recognize",      SNO | ORA,                      R"re(\bMATCH_RECOGNIZE\b)re"},
    {"snowflake.insert_overwrite_into", SNO,                           R"re(\bINSERT\s+OVERWRITE\s+INTO\b)re"},
    {"snowflake.string_functions",     SNO,                            R"re(\bSTARTSWITH\s*\(|\bENDSWITH\s*\(|\bCONTAINS\s*\(\s*\w+\s*,\s*'|\bSPLIT_PART\s*\()re"},

    // ---- bigquery -----------------------------------------------------------------------------------
    {"bigquery.backtick_path",         BQ | DBX,                       R"re(`[\w-]+\.[\w-]+(?:\.[\w-]+)?`)re"},
    {"bigquery.backtick_project_path", BQ,                             R"re(`[a-z][a-z0-9]*(?:-[a-z0-9]+)+\.)re"},
    {"bigquery.typed_collections",     BQ | DBX | HV,                  R"re(\bARRAY\s*<|\bSTRUCT\s*<)re"},
    {"bigquery.standard_types",        BQ,                             R"re(\bINT64\b|\bFLOAT64\b|\bBIGNUMERIC\b|\bBIGDECIMAL\b)re"},
    {"bigquery.date_part_last",        BQ,                             R"re(\b(?:DATE|DATETIME|TIMESTAMP|TIME)_TRUNC\s*\([^(),]*(?:\([^()]*\))?[^(),]*,\s*(?:DAY|WEEK|MONTH|QUARTER|YEAR|ISOWEEK|ISOYEAR|HOUR|MINUTE)\b)re"},
    {"bigquery.date_arithmetic",       BQ,                             R"re(\b(?:DATETIME|TIMESTAMP|TIME)_(?:ADD|SUB|DIFF)\s*\(|\bDATE_DIFF\s*\()re"},
    {"bigquery.format_parse",          BQ,                             R"re(\b(?:FORMAT|PARSE)_(?:DATE|TIMESTAMP|DATETIME|TIME)\s*\()re"},
    {"bigquery.table_options",         BQ,                             R"re(\bOPTIONS\s*\(\s*(?:description|expiration_timestamp|partition_expiration_days|require_partition_filter|labels|friendly_name|uris|format)\s*=)re"},
    {"bigquery.partition_by_date",     BQ,                             R"re(\bPARTITION\s+BY\s+(?:DATE\s*\(|TIMESTAMP_TRUNC|DATE_TRUNC|DATETIME_TRUNC|RANGE_BUCKET|_PARTITIONDATE)\b)re"},
    {"bigquery.generate_array",        BQ,                             R"re(\bGENERATE_(?:ARRAY|DATE_ARRAY|TIMESTAMP_ARRAY|UUID)\s*\()re"},
    {"bigquery.array_offset",          BQ,                             R"re(\[\s*(?:SAFE_)?(?:OFFSET|ORDINAL)\s*\()re"},
    {"bigquery.regexp_contains",       BQ,                             R"re(\bREGEXP_(?:CONTAINS|EXTRACT_ALL)\s*\()re"},
    {"bigquery.aggregate_functions",   BQ,                             R"re(\bCOUNTIF\s*\(|\bLOGICAL_(?:AND|OR)\s*\(|\bARRAY_CONCAT_AGG\s*\()re"},
    {"bigquery.current_datetime",      BQ,                             R"re(\bCURRENT_DATETIME\s*\(|\bSTARTS_WITH\s*\(|\bENDS_WITH\s*\()re"},
    {"bigquery.region_qualifier",      BQ,                             R"re(`?region-[a-z0-9-]+`?\.INFORMATION_SCHEMA\b)re"},
    {"bigquery.declare_typed",         BQ,                             R"re(\bDECLARE\s+\w+(?:\s*,\s*\w+)*\s+(?:INT64|STRING|DATE|TIMESTAMP|ARRAY|STRUCT|FLOAT64|BOOL|NUMERIC|DATETIME)\b)re"},
    {"bigquery.legacy_table_ref",      BQ,                             R"re(\[[\w.-]+:[\w.:-]+\.[\w$-]+\]|\bFROM\s+js\s*\()re"},
    {"bigquery.legacy_sql",            BQ,                             R"re(\bWITHIN\s+RECORD\b|\bGROUP\s+EACH\s+BY\b|\bJOIN\s+EACH\b|\bOMIT\s+RECORD\s+IF\b|\bTABLE_(?:DATE_RANGE|QUERY)\s*\(|\bEXACT_COUNT_DISTINCT\s*\()re"},
    {"bigquery.create_temp_function",  BQ | DBX | HV,                  R"re(\bCREATE\s+(?:OR\s+REPLACE\s+)?TEMP(?:ORARY)?\s+FUNCTION\b)re"},

    // ---- teradata -----------------------------------------------------------------------------------
    {"teradata.abbreviated_dml",       TD,                             R"re(\b(?:INS|DEL)\s+(?:INTO|FROM)\b|\bUPD\s+\w+\s+SET\b)re"},
    {"teradata.volatile_table",        TD,                             R"re(\bVOLATILE\s+TABLE\b|\bMULTISET\s+VOLATILE\b|\bSET\s+VOLATILE\b)re"},
    {"teradata.on_commit_preserve",    TD | ORA | PG,                  R"re(\bON\s+COMMIT\s+PRESERVE\s+ROWS\b)re"},
    {"teradata.collect_stats",         TD,                             R"re(\bCOLLECT\s+STATS?\b)re"},
    {"teradata.bteq_commands",         TD,                             R"re(^\.(?:LOGON|LOGOFF|QUIT|IF|GOTO|LABEL|SET|RUN|EXPORT|IMPORT|OS|REMARK|SEVERITY|ERRORLEVEL|WIDTH|MAXERROR|EXIT|COMPILE)\b|\bERRORCODE\b|\bACTIVITYCOUNT\b)re"},
    {"teradata.dbc_views",             TD,                             R"re(\bDBC\s*\.\s*\w+)re"},
    {"teradata.zero_null_functions",   TD | SNO,                       R"re(\bZEROIFNULL\s*\(|\bNULLIFZERO\s*\()re"},
    {"teradata.td_functions",          TD,                             R"re(\bOREPLACE\s*\(|\bOTRANSLATE\s*\(|\bTD_\w+|\bHASHROW\s*\(|\bHASHBUCKET\s*\(|\bHASHAMP\s*\(|\bSTRTOK\s*\(|\bCHARACTERS\s*\()re"},
    {"teradata.with_data",             TD | PG,                        R"re(\bWITH\s+(?:NO\s+)?DATA\b)re"},
    {"teradata.title_compress",        TD,                             R"re(\bTITLE\s+'|\bCOMPRESS\s*(?:\(|'|\d))re"},
    {"teradata.bt_et",                 TD,                             R"re(\b(?:BT|ET)[ \t]*;)re"},
    {"teradata.lock_row_access",       TD,                             R"re(\bLOCK\s+ROW\s+FOR\s+ACCESS\b|\bLOCKING\s+\w+(?:\.\w+)?\s+FOR\s+ACCESS\b)re"},
    {"teradata.character_set",         TD,                             R"re(\bCHARACTER\s+SET\s+(?:LATIN|UNICODE|GRAPHIC|KANJISJIS)\b)re"},
    {"teradata.bare_replace",          TD,                             R"re((?:^|;)[ \t]*REPLACE\s+(?:VIEW|PROCEDURE|MACRO|FUNCTION)\b)re"},
    {"teradata.table_options",         TD,                             R"re(\bNO\s+(?:BEFORE|AFTER)\s+JOURNAL\b|\bCHECKSUM\s*=\s*DEFAULT\b|\bMERGEBLOCKRATIO\b|\bDATABLOCKSIZE\b|\bNOT\s+NULL\s+WITH\s+DEFAULT\b)re"},
    {"teradata.named_phrase",          TD,                             R"re(\(\s*NAMED\s+\w+\s*\))re"},
    {"teradata.sample_clause",         TD,                             R"re(\bSAMPLE\s+\d+(?:\.\d+)?\s*;)re"},

    // ---- hive ---------------------------------------------------------------------------------------
    {"hive.lateral_view",              HV | DBX,                       R"re(\bLATERAL\s+VIEW\b)re"},
    {"hive.stored_as",                 HV | DBX,                       R"re(\bSTORED\s+AS\s+(?:ORC|PARQUET|TEXTFILE|SEQUENCEFILE|RCFILE|AVRO|INPUTFORMAT|JSONFILE)\b)re"},
    {"hive.row_format",                HV | DBX,                       R"re(\bROW\s+FORMAT\s+(?:DELIMITED|SERDE)\b)re"},
    {"hive.fields_terminated",         HV | DBX | MY,                  R"re(\bFIELDS\s+TERMINATED\s+BY\b|\bLINES\s+TERMINATED\s+BY\b)re"},
    {"hive.partitioned_by",            HV | DBX,                       R"re(\bPARTITIONED\s+BY\s*\()re"},
    {"hive.insert_overwrite",          HV | DBX | SNO,                 R"re(\bINSERT\s+OVERWRITE\b)re"},
    {"hive.partition_spec",            HV | DBX,                       R"re(\bPARTITION\s*\(\s*\w+\s*=)re"},
    {"hive.engine_settings",           HV,                             R"re(\bSET\s+(?:hive|mapred|mapreduce|tez|yarn|dfs)\.\w+)re"},
    {"hive.add_resource",              HV | DBX,                       R"re(^[ \t]*ADD\s+(?:JARS?|FILES?|ARCHIVES?)\b)re"},
    {"hive.bucketing",                 HV | DBX,                       R"re(\bCLUSTERED\s+BY\b|\bSORTED\s+BY\b|\bINTO\s+\d+\s+BUCKETS\b)re"},
    {"hive.tblproperties",             HV | DBX,                       R"re(\bTBLPROPERTIES\s*\()re"},
    {"hive.location_clause",           HV | DBX | RS,                  R"re(\bLOCATION\s+')re"},
    {"hive.explode_collect",           HV | DBX,                       R"re(\b(?:POS)?EXPLODE(?:_OUTER)?\s*\(|\bCOLLECT_(?:LIST|SET)\s*\(|\bNAMED_STRUCT\s*\(|\bGET_JSON_OBJECT\s*\(|\bJSON_TUPLE\s*\()re"},
    {"hive.distribute_sort_by",        HV | DBX,                       R"re(\bDISTRIBUTE\s+BY\b|\bSORT\s+BY\b)re"},
    {"hive.variable_substitution",     HV,                             R"re(\$\{(?:hiveconf|hivevar|env|system):)re"},
    {"hive.template_variable",         HV | DBX,                       R"re(\$\{[A-Za-z_][\w.]*\})re"},
    {"hive.udf_class",                 HV | DBX,                       R"re(\bCREATE\s+(?:TEMPORARY\s+)?FUNCTION\s+[\w.]+\s+AS\s+')re"},
    {"hive.describe_extended",         HV | DBX,                       R"re(\bDESCRIBE\s+(?:EXTENDED|FORMATTED)\b|\bSHOW\s+PARTITIONS\b)re"},
    {"hive.compute_statistics",        HV | DBX,                       R"re(\bCOMPUTE\s+STATISTICS\b)re"},
    {"hive.inpath",                    HV | DBX,                       R"re(\bLOAD\s+DATA\s+(?:LOCAL\s+)?INPATH\b)re"},
    {"hive.string_type",               HV | DBX | BQ | SNO,           R"re(\w\s+STRING\s*(?:,|\)|$|\bCOMMENT\b|\bNOT\b))re"},
    {"hive.collection_functions",      HV | DBX,                       R"re(\bSIZE\s*\(|\bMAP_KEYS\s*\(|\bMAP_VALUES\s*\(|\bSORT_ARRAY\s*\(|\bARRAY_CONTAINS\s*\()re"},
    {"hive.external_table",            HV | DBX,                       R"re(\bCREATE\s+EXTERNAL\s+TABLE\b)re"},

    // ---- databricks ---------------------------------------------------------------------------------
    {"databricks.using_data_source",   DBX,                            R"re(\bUSING\s+(?:DELTA|PARQUET|CSV|JSON|ORC|AVRO|TEXT|JDBC|com\.databricks\.\w+|org\.apache\.spark\.\w+)\b)re"},
    {"databricks.temp_view",           DBX | SNO | PG,                 R"re(\bCREATE\s+(?:OR\s+REPLACE\s+)?(?:GLOBAL\s+)?TEMP(?:ORARY)?\s+VIEW\b)re"},
    {"databricks.json_functions",      DBX,                            R"re(\bFROM_JSON\s*\(|\bSCHEMA_OF_JSON\s*\(|\bTO_JSON\s*\(\s*(?:NAMED_)?STRUCT\b)re"},
    {"databricks.lambda",              DBX,                            R"re(\b(?:TRANSFORM|FILTER|AGGREGATE|EXISTS|FORALL|ZIP_WITH|MAP_FILTER|TRANSFORM_KEYS|TRANSFORM_VALUES|REDUCE)\s*\([^()]*,\s*\(?\s*\w+(?:\s*,\s*\w+)*\s*\)?\s*->)re"},
    {"databricks.cache_table",         DBX,                            R"re(\b(?:UN)?CACHE\s+(?:LAZY\s+)?TABLE\b|\bREFRESH\s+TABLE\b)re"},
    {"databricks.unity_catalog",       DBX,                            R"re(\bCREATE\s+(?:OR\s+REPLACE\s+)?(?:CATALOG|VOLUME|EXTERNAL\s+LOCATION)\b|\bUSE\s+CATALOG\b)re"},
    {"databricks.reader_options",      DBX,                            R"re(\bOPTIONS\s*\(\s*(?:path|header|inferSchema|mergeSchema|delimiter)\b)re"},
    {"databricks.delta_commands",      DBX,                            R"re(\bCONVERT\s+TO\s+DELTA\b|\bRESTORE\s+TABLE\b|\bdelta\s*\.\s*`)re"},
    {"databricks.range_function",      DBX,                            R"re(\bFROM\s+RANGE\s*\(\s*\d+)re"},
    {"databricks.streaming",           DBX,                            R"re(\bSTREAM\s*\(\s*\w+|\bWATERMARK\b|\bread_files\s*\(|\bcloud_files\s*\()re"},
};
// clang-format on

inline constexpr int kLexiconSize = static_cast<int>(sizeof(kLexicon) / sizeof(kLexicon[0]));

}  // namespace tessera::dialect_detect
