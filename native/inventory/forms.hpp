// The defining forms of the inventory, written once as data: which words after CREATE, ALTER or
// REPLACE make a statement define an object, what kind of object, and which words may stand
// between the verb and the kind. The scanner only walks these tables. Words are string views, so
// that comparing one with the text at every line start knows its length without measuring it.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace tessera::inventory {

// In the order of the ObjectKind members.
enum Kind : unsigned char {
  kProcedure,
  kFunction,
  kView,
  kTrigger,
  kTable,
  kIndex,
  kSchema,
  kSequence,
  kType,
  kPackage,
  kPackageBody,
  kMacro,
  kOther,
  kKindCount,
  kNoObject = kKindCount,  // a form that names no object of its own (see kKindForms)
};

inline constexpr std::array<const char*, kKindCount> kKindValues = {
    "procedure", "function", "view",    "trigger",      "table", "index", "schema",
    "sequence",  "type",     "package", "package_body", "macro", "other",
};

enum Statement : unsigned char { kCreate, kCreateOrAlter, kCreateOrReplace, kAlter, kStatementCount };

inline constexpr std::array<const char*, kStatementCount> kStatementValues = {
    "create", "create_or_alter", "create_or_replace", "alter"};

// A kind as written after the verb and its modifiers: up to two words. A routine keeps everything
// up to its batch's end as its body, so a table or index it creates at run time is part of it;
// only another routine's head starts a new object inside it.
struct KindForm {
  std::string_view words[2];  // the second empty for a one-word kind
  Kind kind;
  bool routine;
};

// Longer forms first, so that PACKAGE BODY is not taken for PACKAGE, nor TABLE FUNCTION for TABLE.
// A form of kind kNoObject defines nothing: it only keeps a shorter form from taking its second word
// for a name (a DATABASE ROLE is a role, not a database called ROLE).
inline constexpr KindForm kKindForms[] = {
    {{"PACKAGE", "BODY"}, kPackageBody, true},
    {{"DATABASE", "ROLE"}, kNoObject, false},
    {{"DATABASE", "SCOPED"}, kNoObject, false},      // a credential or a configuration
    {{"DATABASE", "ENCRYPTION"}, kNoObject, false},  // a key
    {{"TYPE", "BODY"}, kType, true},
    {{"TABLE", "FUNCTION"}, kFunction, true},
    {{"FILE", "FORMAT"}, kOther, false},
    {{"DATABASE", "LINK"}, kOther, false},
    {{"PROCEDURE", {}}, kProcedure, true},
    {{"PROC", {}}, kProcedure, true},
    {{"FUNCTION", {}}, kFunction, true},
    {{"TRIGGER", {}}, kTrigger, true},
    {{"PACKAGE", {}}, kPackage, true},
    {{"MACRO", {}}, kMacro, true},
    {{"VIEW", {}}, kView, false},
    {{"TABLE", {}}, kTable, false},
    {{"INDEX", {}}, kIndex, false},
    {{"SCHEMA", {}}, kSchema, false},
    {{"SEQUENCE", {}}, kSequence, false},
    {{"TYPE", {}}, kType, false},
    {{"SYNONYM", {}}, kOther, false},
    {{"DATABASE", {}}, kOther, false},
    {{"STAGE", {}}, kOther, false},
    {{"STREAM", {}}, kOther, false},
    {{"TASK", {}}, kOther, false},
    {{"PIPE", {}}, kOther, false},
    {{"DOMAIN", {}}, kOther, false},
};

// Words that may stand between CREATE [OR REPLACE | OR ALTER] and the kind, in any number.
inline constexpr std::string_view kModifiers[] = {
    "GLOBAL",    "LOCAL",      "TEMPORARY",   "TEMP",        "VOLATILE",   "MULTISET",      "SET",
    "TRANSIENT", "EXTERNAL",   "SECURE",      "MATERIALIZED", "RECURSIVE", "UNIQUE",        "CLUSTERED",
    "NONCLUSTERED", "COLUMNSTORE", "BITMAP",  "FULLTEXT",    "SPATIAL",    "XML",           "PRIMARY",
    "AGGREGATE", "FORCE",      "NOFORCE",     "EDITIONABLE", "NONEDITIONABLE", "EDITIONING", "STREAMING",
    "LIVE",      "FOREIGN",    "UNLOGGED",    "DYNAMIC",     "HYBRID",      "PUBLIC",      "CONSTRAINT",
    "EVENT",
};

// Clauses that may stand between CREATE [OR REPLACE] and the kind with a value after an equals sign:
// ALGORITHM = MERGE, DEFINER = `user`@`host` (how dump tools write every view and routine). SQL
// SECURITY DEFINER | INVOKER may stand there too.
inline constexpr std::string_view kAssignedModifiers[] = {"ALGORITHM", "DEFINER"};

// The words after OR that make CREATE OR <word> a statement of its own.
struct OrForm {
  std::string_view word;
  Statement statement;
};
inline constexpr OrForm kOrForms[] = {
    {"REPLACE", kCreateOrReplace},
    {"ALTER", kCreateOrAlter},
    {"REFRESH", kCreateOrReplace},
};

// REPLACE <kind> on its own is a create-or-replace of these kinds only; elsewhere REPLACE is a
// function or a data statement.
inline constexpr Kind kReplaceKinds[] = {kProcedure, kFunction, kMacro, kView};

// ALTER <kind> defines an object only for these kinds, and only when a body follows the name.
inline constexpr Kind kAlterKinds[] = {kProcedure, kFunction, kView, kTrigger};

// Words that open an altered object's body (AS right after EXECUTE names a security context).
inline constexpr std::string_view kBodyWords[] = {"AS", "IS", "BEGIN"};

// Words that can't be a name: a head without a name defines nothing.
inline constexpr std::string_view kNotNames[] = {"AS", "IS", "BEGIN", "ON", "RETURNS", "WITH", "LANGUAGE", "RETURN", "GO"};

// Statements that a reader can start a section on. SELECT and WITH only count after a semicolon:
// elsewhere at the start of a line they continue an INSERT, a UNION or a cursor declaration.
inline constexpr std::string_view kStatementVerbs[] = {
    "INSERT",   "UPDATE", "DELETE",     "MERGE",     "DECLARE", "SET",    "IF",     "WHILE",
    "EXEC",     "EXECUTE", "CREATE",    "ALTER",     "DROP",    "TRUNCATE", "RETURN", "PRINT",
    "RAISERROR", "THROW", "OPEN",       "FETCH",     "CLOSE",   "DEALLOCATE", "COMMIT", "ROLLBACK",
    "CALL",     "FOR",    "LOOP",       "GOTO",      "USE",     "GRANT",  "REVOKE", "REPLACE",
    "SELECT",   "WITH",
};
inline constexpr size_t kAfterSemicolonOnly = 2;  // the last entries above

// What a SET statement (rather than an UPDATE's SET clause) names when no variable follows it.
inline constexpr std::string_view kSessionOptions[] = {
    "NOCOUNT",   "XACT_ABORT",      "ANSI_NULLS",      "ANSI_WARNINGS",  "ANSI_PADDING", "QUOTED_IDENTIFIER",
    "TRANSACTION", "IDENTITY_INSERT", "LOCK_TIMEOUT",  "DEADLOCK_PRIORITY", "ROWCOUNT",  "DATEFIRST",
    "DATEFORMAT", "ARITHABORT",     "CONCAT_NULL_YIELDS_NULL", "NUMERIC_ROUNDABORT", "STATISTICS", "NOEXEC",
    "LANGUAGE",  "CONTEXT_INFO",    "FMTONLY",         "TEXTSIZE",       "IMPLICIT_TRANSACTIONS",
};

}  // namespace tessera::inventory
