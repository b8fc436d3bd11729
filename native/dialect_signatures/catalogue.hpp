// The dialect marker catalogue, as data. Each row becomes one `Marker(...)` call at module load, in row
// order; the loader in dialect_signatures.cpp turns the symbolic platform names into the constants it took
// from agents.tessera.dialect_probe. Patterns are raw literals so that every backslash and quote is the
// pattern's own.
#pragma once

#include <array>
#include <cstdint>

namespace tessera::dialect {

// Index + 1 into the platform constants taken from dialect_probe (0 fills the unused tail of a row's list).
enum Platform : std::uint8_t {
    NO_PLATFORM = 0,
    DATABRICKS,
    SNOWFLAKE,
    POSTGRESQL,
    MYSQL,
    SQLSERVER,
    ORACLE,
    REDSHIFT,
    BIGQUERY,
    TERADATA,
    HIVE,
};
inline constexpr int kPlatformCount = 10;
inline constexpr int kMaxPlatformsPerEntry = 7;

enum Confidence : std::uint8_t { HIGH, MEDIUM };

// The one optional keyword an entry may add to its call; no entry passes both.
enum Extra : std::uint8_t {
    PLAIN,              // neither keyword: Marker's defaults apply
    SCOPE_COMMENT,      // scope="comment"
    CORROBORATING,      // corroborating_only=True
    NOT_CORROBORATING,  // corroborating_only=False
};

struct Entry {
    const char *id;
    std::array<Platform, kMaxPlatformsPerEntry> platforms;
    Confidence confidence;
    Extra extra;
    const char *pattern;
};

// clang-format off
inline constexpr Entry kCatalogue[] = {
    // databricks: entries 1 to 14
    {"databricks.notebook_header",                  {DATABRICKS},  HIGH,   SCOPE_COMMENT,     R"re(--\s*Databricks\s+notebook\s+source|--\s*MAGIC\b|--\s*COMMAND\s*-+)re"},
    {"databricks.optimize_zorder",                  {DATABRICKS},  HIGH,   PLAIN,             R"re(\bOPTIMIZE\b[\s\S]{0,200}?\bZORDER\s+BY\b)re"},
    {"databricks.vacuum_retain",                    {DATABRICKS},  HIGH,   PLAIN,             R"re(\bVACUUM\b[\s\S]{0,60}?\bRETAIN\s+\d+\s+HOURS\b)re"},
    {"databricks.describe_history",                 {DATABRICKS},  HIGH,   PLAIN,             R"re(\bDESCRIBE\s+HISTORY\b)re"},
    {"databricks.shallow_deep_clone",               {DATABRICKS},  HIGH,   PLAIN,             R"re(\b(SHALLOW|DEEP)\s+CLONE\b)re"},
    {"databricks.delta_time_travel",                {DATABRICKS},  HIGH,   PLAIN,             R"re(\b(VERSION|TIMESTAMP)\s+AS\s+OF\b|\w@v\d+\b)re"},
    {"databricks.merge_when_not_matched_by_source", {DATABRICKS},  HIGH,   PLAIN,             R"re(\bWHEN\s+NOT\s+MATCHED\s+BY\s+SOURCE\b)re"},
    {"databricks.create_table_using_format",        {DATABRICKS},  HIGH,   PLAIN,             R"re(\bCREATE\s+(?:OR\s+REPLACE\s+)?TABLE\b[\s\S]{0,3000}?\bUSING\s+(DELTA|PARQUET|CSV|JSON|ORC|AVRO|TEXT|HIVE)\b)re"},
    {"databricks.format_prefixed_path",             {DATABRICKS},  HIGH,   PLAIN,             R"re(\bFROM\s+(parquet|delta|json|csv|orc|avro|text)\s*\.\s*`)re"},
    {"databricks.lakeflow_dlt_ddl",                 {DATABRICKS},  HIGH,   PLAIN,             R"re(\bCREATE\s+OR\s+REFRESH\s+(STREAMING\s+TABLE|(LIVE\s+)?MATERIALIZED\s+VIEW)\b|\bCONSTRAINT\b[\s\S]{0,200}?\bEXPECT\b[\s\S]{0,200}?\bON\s+VIOLATION\b|\bAPPLY\s+CHANGES\s+INTO\b)re"},
    {"databricks.trycast_operator",                 {DATABRICKS},  HIGH,   PLAIN,             R"re(\w\?::)re"},
    {"databricks.spark_config_set",                 {DATABRICKS},  HIGH,   PLAIN,             R"re(\bSET\s+spark\.(sql|databricks)\.)re"},
    {"databricks.optimizer_hint",                   {DATABRICKS},  MEDIUM, SCOPE_COMMENT,     R"re(/\*\+\s*(BROADCAST|MAPJOIN|SHUFFLE_HASH|SHUFFLE_REPLICATE_NL|REPARTITION|REPARTITION_BY_RANGE|COALESCE)\s*\()re"},
    {"databricks.struct_colon_type",                {DATABRICKS},  MEDIUM, PLAIN,             R"re(\bSTRUCT\s*<\s*\w+\s*:\s*\w+)re"},

    // snowflake: entries 15 to 28
    {"snowflake.lateral_flatten",                   {SNOWFLAKE},   HIGH,   PLAIN,             R"re(\bLATERAL\s+FLATTEN\s*\()re"},
    {"snowflake.star_exclude",                      {SNOWFLAKE},   HIGH,   PLAIN,             R"re(SELECT\s+\*\s+EXCLUDE\s*\()re"},
    {"snowflake.semi_structured_types",             {SNOWFLAKE},   HIGH,   PLAIN,             R"re(::\s*(VARIANT|OBJECT)\b|\bAS\s+(VARIANT|OBJECT)\b|\bCREATE\s+TABLE\b[\s\S]{0,2000}?\b(VARIANT|OBJECT)\s*[,\)])re"},
    {"snowflake.timestamp_ntz_ltz_tz",              {SNOWFLAKE},   HIGH,   PLAIN,             R"re(\bTIMESTAMP_(NTZ|LTZ|TZ)\b)re"},
    {"snowflake.time_travel_at_before",             {SNOWFLAKE},   HIGH,   PLAIN,             R"re(\b(AT|BEFORE)\s*\(\s*(TIMESTAMP|OFFSET|STATEMENT)\s*=>)re"},
    {"snowflake.zero_copy_clone",                   {SNOWFLAKE},   HIGH,   PLAIN,             R"re(\bCREATE\s+TABLE\s+\S+\s+CLONE\b)re"},
    {"snowflake.stage_sigil",                       {SNOWFLAKE},   HIGH,   PLAIN,             R"re(@~|@%\w+)re"},
    {"snowflake.warehouse_ddl",                     {SNOWFLAKE},   HIGH,   PLAIN,             R"re(\b(CREATE|ALTER|USE)\s+WAREHOUSE\b)re"},
    {"snowflake.stream_task_ddl",                   {SNOWFLAKE},   HIGH,   PLAIN,             R"re(\bCREATE\s+STREAM\s+\S+\s+ON\s+TABLE\b|\bCREATE\s+TASK\b[\s\S]{0,300}?\bSCHEDULE\s*=)re"},
    {"snowflake.masking_row_access_policy",         {SNOWFLAKE},   HIGH,   PLAIN,             R"re(\bCREATE\s+(MASKING\s+POLICY|ROW\s+ACCESS\s+POLICY)\b)re"},
    {"snowflake.dynamic_table",                     {SNOWFLAKE},   HIGH,   PLAIN,             R"re(\bCREATE\s+DYNAMIC\s+TABLE\b[\s\S]{0,300}?\bTARGET_LAG\b)re"},
    {"snowflake.generator_seq",                     {SNOWFLAKE},   HIGH,   PLAIN,             R"re(\bGENERATOR\s*\(\s*ROWCOUNT\s*=>|\bSEQ[1248]\s*\(\s*\))re"},
    {"snowflake.convenience_functions",             {SNOWFLAKE},   HIGH,   PLAIN,             R"re(\b(DIV0|ZEROIFNULL|EQUAL_NULL|BOOLAND|BOOLOR|BOOLXOR)\s*\()re"},
    {"snowflake.cortex_ai_functions",               {SNOWFLAKE},   HIGH,   PLAIN,             R"re(\bSNOWFLAKE\.CORTEX\.\w+|\bAI_[A-Z_]+\s*\()re"},

    // postgresql: entries 29 to 40
    {"postgresql.dollar_quoted_body",               {POSTGRESQL},  HIGH,   PLAIN,             R"re(\$([A-Za-z_]\w*)?\$)re"},
    {"postgresql.on_conflict_upsert",               {POSTGRESQL},  HIGH,   PLAIN,             R"re(\bON\s+CONFLICT\b[\s\S]{0,80}?\bDO\s+(UPDATE|NOTHING)\b)re"},
    {"postgresql.serial_types",                     {POSTGRESQL},  HIGH,   PLAIN,             R"re(\bCREATE\s+TABLE\b[\s\S]{0,2000}?\b(SMALL|BIG)?SERIAL\b)re"},
    {"postgresql.distinct_on",                      {POSTGRESQL},  HIGH,   PLAIN,             R"re(\bDISTINCT\s+ON\s*\()re"},
    {"postgresql.jsonb_operators",                  {POSTGRESQL},  HIGH,   PLAIN,             R"re(@>|<@|\?\||\?&|#>>|#>)re"},
    {"postgresql.fulltext_tsvector",                {POSTGRESQL},  HIGH,   PLAIN,             R"re(\bto_tsvector\s*\(|\bto_tsquery\s*\(|\bplainto_tsquery\s*\(|\btsvector\b|\btsquery\b)re"},
    {"postgresql.range_types",                      {POSTGRESQL},  HIGH,   PLAIN,             R"re(\b(int4|int8|num|date|ts|tstz)range\b)re"},
    {"postgresql.create_extension",                 {POSTGRESQL},  HIGH,   PLAIN,             R"re(\bCREATE\s+EXTENSION\b)re"},
    {"postgresql.table_inherits",                   {POSTGRESQL},  HIGH,   PLAIN,             R"re(\bINHERITS\s*\()re"},
    {"postgresql.exclude_constraint",               {POSTGRESQL},  HIGH,   PLAIN,             R"re(\bEXCLUDE\s+USING\s+\w+\s*\()re"},
    {"postgresql.hstore_type",                      {POSTGRESQL},  HIGH,   PLAIN,             R"re(\bhstore\b)re"},
    {"postgresql.psql_meta_commands",               {POSTGRESQL},  HIGH,   PLAIN,             R"re(^\s*\\(copy|dt|gset|df|dn|du|d|i|x)\b)re"},

    // mysql: entries 41 to 55
    {"mysql.on_duplicate_key_update",               {MYSQL},       HIGH,   PLAIN,             R"re(\bON\s+DUPLICATE\s+KEY\s+UPDATE\b)re"},
    {"mysql.auto_increment",                        {MYSQL},       HIGH,   PLAIN,             R"re(\bAUTO_INCREMENT\b)re"},
    {"mysql.engine_table_option",                   {MYSQL},       HIGH,   PLAIN,             R"re(\bENGINE\s*=\s*(InnoDB|MyISAM|MEMORY|CSV|ARCHIVE|BLACKHOLE|MERGE|FEDERATED|NDB|NDBCLUSTER|TokuDB)\b)re"},
    {"mysql.utf8mb_charset",                        {MYSQL},       HIGH,   PLAIN,             R"re(\butf8mb[34]\b)re"},
    {"mysql.group_concat",                          {MYSQL},       HIGH,   PLAIN,             R"re(\bGROUP_CONCAT\s*\()re"},
    {"mysql.select_modifiers",                      {MYSQL},       HIGH,   PLAIN,             R"re(\bSELECT\s+(SQL_CALC_FOUND_ROWS|STRAIGHT_JOIN|SQL_NO_CACHE|SQL_CACHE|HIGH_PRIORITY)\b)re"},
    {"mysql.int_display_width_zerofill",            {MYSQL},       HIGH,   PLAIN,             R"re(\b(?:TINY|SMALL|MEDIUM|BIG)?INT(?:EGER)?\s*\(\s*\d+\s*\)|\bZEROFILL\b)re"},
    {"mysql.mediumint_year_types",                  {MYSQL},       HIGH,   PLAIN,             R"re(\bMEDIUMINT\b|[,(]\s*\w+\s+YEAR\b)re"},
    {"mysql.enum_type",                             {MYSQL},       HIGH,   PLAIN,             R"re((?<!AS )\bENUM\s*\()re"},
    {"mysql.on_update_current_timestamp",           {MYSQL},       HIGH,   PLAIN,             R"re(\bON\s+UPDATE\s+CURRENT_TIMESTAMP\b)re"},
    {"mysql.fulltext_match_against",                {MYSQL},       HIGH,   PLAIN,             R"re(\bMATCH\s*\([^)]*\)\s*AGAINST\s*\()re"},
    {"mysql.hash_comment",                          {MYSQL},       HIGH,   PLAIN,             R"re(#(?![A-Za-z_])(?!\s*(standardSQL|legacySQL)\b))re"},
    {"mysql.version_comment",                       {MYSQL},       HIGH,   SCOPE_COMMENT,     R"re(/\*!\d+)re"},
    {"mysql.delimiter_command",                     {MYSQL},       HIGH,   PLAIN,             R"re(\bDELIMITER\s+(?![A-Za-z0-9_\s])\S+)re"},
    {"mysql.dump_session_pragmas",                  {MYSQL},       HIGH,   PLAIN,             R"re(\bSET\s+(FOREIGN_KEY_CHECKS|SQL_MODE|NAMES|character_set_client)\b)re"},

    // sqlserver: entries 56 to 69
    {"sqlserver.bracket_identifier",                {SQLSERVER},   HIGH,   PLAIN,             R"re(\[[A-Za-z_]\w*\s+[A-Za-z0-9_ ]*\]|\.\[[A-Za-z_]\w*\])re"},
    {"sqlserver.at_at_global_vars",                 {SQLSERVER},   HIGH,   PLAIN,             R"re(@@(IDENTITY|ROWCOUNT|ERROR|VERSION|SERVERNAME|TRANCOUNT)\b)re"},
    {"sqlserver.go_batch_separator",                {SQLSERVER},   HIGH,   PLAIN,             R"re(^\s*GO\s*$)re"},
    {"sqlserver.temp_table_prefix",                 {SQLSERVER},   HIGH,   PLAIN,             R"re(\b(CREATE\s+TABLE|DROP\s+TABLE|INTO|FROM|JOIN|DECLARE|UPDATE|MERGE)\s+##?[A-Za-z_]\w*)re"},
    {"sqlserver.output_inserted_deleted",           {SQLSERVER},   HIGH,   PLAIN,             R"re(\bOUTPUT\s+(INSERTED|DELETED)\b)re"},
    {"sqlserver.try_catch_error_functions",         {SQLSERVER},   HIGH,   PLAIN,             R"re(\bBEGIN\s+TRY\b|\bERROR_(NUMBER|MESSAGE|SEVERITY|LINE|PROCEDURE)\s*\()re"},
    {"sqlserver.throw_raiserror",                   {SQLSERVER},   HIGH,   PLAIN,             R"re(\bTHROW\s*(\d+\s*,|;)|\bRAISERROR\s*\()re"},
    {"sqlserver.for_xml_json",                      {SQLSERVER},   HIGH,   PLAIN,             R"re(\bFOR\s+(XML|JSON)\s+(PATH|AUTO|RAW|EXPLICIT|ROOT)\b)re"},
    {"sqlserver.table_hints",                       {SQLSERVER},   HIGH,   PLAIN,             R"re(\bWITH\s*\(\s*(NOLOCK|ROWLOCK|READPAST|TABLOCKX|TABLOCK|UPDLOCK|HOLDLOCK|XLOCK)\b)re"},
    {"sqlserver.sp_xp_exec",                        {SQLSERVER},   HIGH,   PLAIN,             R"re(\bEXEC(?:UTE)?\s+(sp_|xp_)\w+|\bsp_executesql\b)re"},
    {"sqlserver.set_nocount",                       {SQLSERVER},   HIGH,   PLAIN,             R"re(\bSET\s+NOCOUNT\s+(ON|OFF)\b)re"},
    {"sqlserver.tsql_data_types",                   {SQLSERVER},   HIGH,   PLAIN,             R"re(\bUNIQUEIDENTIFIER\b|\bDATETIME2\b|\bSMALLDATETIME\b|\bHIERARCHYID\b|\bSQL_VARIANT\b)re"},
    {"sqlserver.money_type",                        {SQLSERVER},   HIGH,   PLAIN,             R"re(\bCREATE\s+TABLE\b[\s\S]{0,2000}?\bMONEY\b)re"},
    {"sqlserver.convert_style_code",                {SQLSERVER},   HIGH,   PLAIN,             R"re(\bCONVERT\s*\([^,]+,[^,]+,\s*\d+\s*\)|\bTRY_CONVERT\s*\(|\bTRY_PARSE\s*\()re"},

    // oracle: entries 70 to 84
    {"oracle.legacy_outer_join",                    {ORACLE},      HIGH,   PLAIN,             R"re(\(\+\))re"},
    {"oracle.q_quote",                              {ORACLE},      HIGH,   PLAIN,             R"re(\bn?q'[\[\(\{<])re"},
    {"oracle.varchar2",                             {ORACLE},      HIGH,   PLAIN,             R"re(\bN?VARCHAR2\b)re"},
    {"oracle.pragma",                               {ORACLE},      HIGH,   PLAIN,             R"re(\bPRAGMA\s+(AUTONOMOUS_TRANSACTION|EXCEPTION_INIT|SERIALLY_REUSABLE|RESTRICT_REFERENCES|INLINE|UDF)\b)re"},
    {"oracle.dbms_utl_package_call",                {ORACLE},      HIGH,   PLAIN,             R"re(\b(DBMS|UTL)_\w+\s*\.\s*\w+)re"},
    {"oracle.raise_application_error",              {ORACLE},      HIGH,   PLAIN,             R"re(\bRAISE_APPLICATION_ERROR\s*\()re"},
    {"oracle.bulk_collect_forall",                  {ORACLE},      HIGH,   PLAIN,             R"re(\bBULK\s+COLLECT\s+INTO\b|\bFORALL\b)re"},
    {"oracle.insert_all_first",                     {ORACLE},      HIGH,   PLAIN,             R"re(\bINSERT\s+(ALL|FIRST)\b)re"},
    {"oracle.new_old_trigger_vars",                 {ORACLE},      HIGH,   PLAIN,             R"re(:(NEW|OLD)\b)re"},
    {"oracle.package_body",                         {ORACLE},      HIGH,   PLAIN,             R"re(\bCREATE\s+(OR\s+REPLACE\s+)?PACKAGE\b(\s+BODY\b)?)re"},
    {"oracle.object_type_ddl",                      {ORACLE},      HIGH,   PLAIN,             R"re(\bAS\s+OBJECT\b|\bMEMBER\s+(FUNCTION|PROCEDURE)\b|\bVARRAY\s*\(|\bNESTED\s+TABLE\b)re"},
    {"oracle.pls_integer_subtypes",                 {ORACLE},      HIGH,   PLAIN,             R"re(\bPLS_INTEGER\b|\bBINARY_INTEGER\b|\bSIMPLE_INTEGER\b)re"},
    {"oracle.rowid_urowid",                         {ORACLE},      HIGH,   PLAIN,             R"re(\bROWID\b|\bUROWID\b)re"},
    {"oracle.flashback_as_of",                      {ORACLE},      HIGH,   PLAIN,             R"re(\bAS\s+OF\s+(TIMESTAMP|SCN)\b|\bVERSIONS\s+BETWEEN\b)re"},
    {"oracle.sqlplus_furniture",                    {ORACLE},      HIGH,   PLAIN,             R"re(^\s*/\s*$|\bSET\s+SERVEROUTPUT\s+ON\b|\bWHENEVER\s+SQLERROR\b|\bSPOOL\s+\S+|^\s*PROMPT\b)re"},

    // redshift: entries 85 to 95
    {"redshift.system_table_prefix",                {REDSHIFT},    HIGH,   PLAIN,             R"re(\b(STL|STV|SVL|SVV)_\w+)re"},
    {"redshift.distkey_diststyle",                  {REDSHIFT},    HIGH,   PLAIN,             R"re(\bDISTKEY\b|\bDISTSTYLE\s+(EVEN|KEY|ALL|AUTO)\b)re"},
    {"redshift.sortkey",                            {REDSHIFT},    HIGH,   PLAIN,             R"re(\b(COMPOUND\s+|INTERLEAVED\s+)?SORTKEY\b)re"},
    {"redshift.encode_codec",                       {REDSHIFT},    HIGH,   PLAIN,             R"re(\bENCODE\s+(AZ64|BYTEDICT|ZSTD|LZO|RUNLENGTH|MOSTLY8|MOSTLY16|MOSTLY32|DELTA32K|DELTA|TEXT255|TEXT32K|RAW|AUTO)\b)re"},
    {"redshift.copy_iam_role",                      {REDSHIFT},    HIGH,   PLAIN,             R"re(\bCOPY\s+\S+\s+FROM\b[\s\S]{0,300}?\bIAM_ROLE\b)re"},
    {"redshift.unload",                             {REDSHIFT},    HIGH,   PLAIN,             R"re(\bUNLOAD\s*\()re"},
    {"redshift.super_type",                         {REDSHIFT},    HIGH,   PLAIN,             R"re(\b\w+\s+SUPER\s*[,\)])re"},
    {"redshift.backup_option",                      {REDSHIFT},    HIGH,   PLAIN,             R"re(\bBACKUP\s+(NO|YES)\b)re"},
    {"redshift.alter_table_append",                 {REDSHIFT},    HIGH,   PLAIN,             R"re(\bALTER\s+TABLE\s+\S+\s+APPEND\s+FROM\b)re"},
    {"redshift.varbyte_hllsketch",                  {REDSHIFT},    HIGH,   PLAIN,             R"re(\bVARBYTE\b|\bHLLSKETCH\b)re"},
    {"redshift.approximate_count_distinct",         {REDSHIFT},    HIGH,   PLAIN,             R"re(\bAPPROXIMATE\s+COUNT\s*\(\s*DISTINCT\b)re"},

    // bigquery: entries 96 to 105
    {"bigquery.magic_comment",                      {BIGQUERY},    HIGH,   PLAIN,             R"re(^[ \t]*#\s*(standardSQL|legacySQL)\b)re"},
    {"bigquery.legacy_bracket_table_ref",           {BIGQUERY},    HIGH,   PLAIN,             R"re(\[[\w-]+:[\w-]+\.[\w-]+\])re"},
    {"bigquery.safe_cast",                          {BIGQUERY},    HIGH,   PLAIN,             R"re(\bSAFE_CAST\s*\(|\bSAFE\.\w+\s*\()re"},
    {"bigquery.string_prefix_triple_quote",         {BIGQUERY},    HIGH,   PLAIN,             R"re(\b[rRbB]['\"]|\"\"\")re"},
    {"bigquery.unnest_with_offset",                 {BIGQUERY},    HIGH,   PLAIN,             R"re(\bUNNEST\s*\([^)]*\)\s*(AS\s+\w+\s+)?WITH\s+OFFSET\b)re"},
    {"bigquery.pseudo_columns_wildcard",            {BIGQUERY},    HIGH,   PLAIN,             R"re(\b_PARTITIONTIME\b|\b_PARTITIONDATE\b|\b_TABLE_SUFFIX\b|`[\w.-]+\*`)re"},
    {"bigquery.js_udf",                             {BIGQUERY},    HIGH,   PLAIN,             R"re(\bCREATE\s+(OR\s+REPLACE\s+)?(TEMP\s+|TEMPORARY\s+)?FUNCTION\b[\s\S]{0,500}?\bLANGUAGE\s+js\b)re"},
    {"bigquery.export_data",                        {BIGQUERY},    HIGH,   PLAIN,             R"re(\bEXPORT\s+DATA\s+OPTIONS\s*\()re"},
    {"bigquery.load_data_from_files",               {BIGQUERY},    HIGH,   PLAIN,             R"re(\bLOAD\s+DATA\s+(INTO|OVERWRITE)\b[\s\S]{0,300}?\bFROM\s+FILES\s*\()re"},
    {"bigquery.struct_space_type",                  {BIGQUERY},    MEDIUM, PLAIN,             R"re(\bSTRUCT\s*<\s*\w+\s+\w+)re"},

    // teradata: entries 106 to 120
    {"teradata.locking_modifier",                   {TERADATA},    HIGH,   PLAIN,             R"re(\bLOCKING\s+(ROW|TABLE)\s+FOR\s+(ACCESS|WRITE|READ|EXCLUSIVE)\b)re"},
    {"teradata.sel_abbreviation",                   {TERADATA},    HIGH,   PLAIN,             R"re((?:^|;)\s*SEL\s+)re"},
    {"teradata.primary_index",                      {TERADATA},    HIGH,   PLAIN,             R"re(\b(UNIQUE\s+|NO\s+)?PRIMARY\s+INDEX\b|\bNOPI\b)re"},
    {"teradata.set_multiset_fallback",              {TERADATA},    HIGH,   PLAIN,             R"re(\bCREATE\s+(SET|MULTISET)\s+TABLE\b|\)\s*(NO\s+)?FALLBACK\b)re"},
    {"teradata.partition_case_range_n",             {TERADATA},    HIGH,   PLAIN,             R"re(\bPARTITION\s+BY\b[\s\S]{0,50}?\b(CASE_N|RANGE_N)\s*\()re"},
    {"teradata.create_macro",                       {TERADATA},    HIGH,   PLAIN,             R"re(\b(CREATE|REPLACE)\s+MACRO\b)re"},
    {"teradata.format_phrase",                      {TERADATA},    HIGH,   PLAIN,             R"re(\(\s*FORMAT\s+\)|\b(DATE|TIME|TIMESTAMP)\s+FORMAT\b)re"},
    {"teradata.casespecific",                       {TERADATA},    HIGH,   PLAIN,             R"re(\b(NOT\s+)?CASESPECIFIC\b)re"},
    {"teradata.help_show",                          {TERADATA},    HIGH,   PLAIN,             R"re(\bHELP\s+(TABLE|COLUMN|DATABASE|VIEW|MACRO|USER)\b)re"},
    {"teradata.bare_database_stmt",                 {TERADATA},    HIGH,   PLAIN,             R"re(^\s*DATABASE\s+\w+\s*;)re"},
    {"teradata.give_stmt",                          {TERADATA},    HIGH,   PLAIN,             R"re(\bGIVE\s+\S+\s+TO\s+\S+)re"},
    {"teradata.validtime_transactiontime",          {TERADATA},    HIGH,   PLAIN,             R"re(\b(CURRENT|SEQUENCED|NONSEQUENCED)\s+(VALIDTIME|TRANSACTIONTIME)\b)re"},
    {"teradata.collect_statistics",                 {TERADATA},    HIGH,   PLAIN,             R"re(\bCOLLECT\s+STATISTICS\b)re"},
    {"teradata.moving_window_functions",            {TERADATA},    HIGH,   PLAIN,             R"re(\b(CSUM|MAVG|MSUM|MDIFF)\s*\()re"},
    {"teradata.byteint_period_types",               {TERADATA},    HIGH,   PLAIN,             R"re(\bBYTEINT\b|\bPERIOD\s*\(\s*(DATE|TIME|TIMESTAMP)\b)re"},

    // hive: entries 121 to 123
    {"hive.uniontype",                              {HIVE},        HIGH,   PLAIN,             R"re(\bUNIONTYPE\s*<)re"},
    {"hive.msck_repair",                            {HIVE},        MEDIUM, NOT_CORROBORATING, R"re(\bMSCK\s+REPAIR\s+TABLE\b)re"},
    {"hive.string_angle_bracket_colon",             {HIVE},        MEDIUM, NOT_CORROBORATING, R"re(\b(ARRAY|MAP|STRUCT)\s*<[^<>]*:[^<>]*>)re"},

    // shared: entries 124 to 133
    {"shared.qualify",                              {TERADATA, SNOWFLAKE, DATABRICKS, BIGQUERY}, MEDIUM, CORROBORATING, R"re(\bQUALIFY\b)re"},
    {"shared.group_by_all",                         {SNOWFLAKE, DATABRICKS, BIGQUERY}, MEDIUM, CORROBORATING, R"re(\b(GROUP|ORDER)\s+BY\s+ALL\b)re"},
    {"shared.top_n_bare",                           {SQLSERVER, TERADATA}, MEDIUM, CORROBORATING, R"re(\bTOP\s*\(?\s*\d+\s*\)?\b)re"},
    {"shared.cast_operator",                        {POSTGRESQL, REDSHIFT, SNOWFLAKE, DATABRICKS}, MEDIUM, CORROBORATING, R"re(::[A-Za-z_])re"},
    {"shared.ilike",                                {POSTGRESQL, REDSHIFT, SNOWFLAKE}, MEDIUM, CORROBORATING, R"re(\bILIKE\b)re"},
    {"shared.minus_setop",                          {ORACLE, TERADATA}, MEDIUM, CORROBORATING, R"re((?:^|\n)\s*MINUS\s*(?:\n|$)|\bMINUS\s+SELECT\b)re"},
    {"shared.merge_stmt",                           {POSTGRESQL, SNOWFLAKE, DATABRICKS, REDSHIFT, BIGQUERY, ORACLE, SQLSERVER}, MEDIUM, CORROBORATING, R"re(\bMERGE\s+(INTO\s+)?\S+\s+USING\b)re"},
    {"shared.pipe_syntax",                          {BIGQUERY, DATABRICKS, SNOWFLAKE}, MEDIUM, CORROBORATING, R"re(^\s*\|>)re"},
    {"shared.backtick_identifier",                  {MYSQL, BIGQUERY, DATABRICKS, HIVE}, MEDIUM, CORROBORATING, R"re(`[^`\n]+`)re"},
    {"shared.select_star_except",                   {BIGQUERY, DATABRICKS}, MEDIUM, NOT_CORROBORATING, R"re(SELECT\s+\*\s+EXCEPT\s*\()re"},
};
// clang-format on

inline constexpr std::size_t kCatalogueSize = sizeof(kCatalogue) / sizeof(kCatalogue[0]);
static_assert(kCatalogueSize == 133);

}  // namespace tessera::dialect
