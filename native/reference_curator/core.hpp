// The construct categories of agents.tessera.reference_curator without the interpreter: which
// categories a script uses, for any thread and any module, no Python object involved.
#pragma once

#include "text/view.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

namespace tessera::curator {

struct Category {
  const char* name;
  const char* pattern;  // compiled with IGNORECASE only
};

inline constexpr std::size_t kCategoryCount = 14;

inline constexpr std::array<Category, kCategoryCount> kCategories = {{
    {"date_function",
     R"(\b(?:DATEDIFF|DATEADD|GETDATE|GETUTCDATE|EOMONTH|DATEPART|DATENAME|DATETRUNC|SYSDATETIME|SYSUTCDATETIME)\b)"},
    {"window_function", R"(\b(?:ROW_NUMBER|RANK|DENSE_RANK|NTILE|LAG|LEAD|CUME_DIST|PERCENT_RANK)\s*\()"},
    {"null_handling", R"(\b(?:ISNULL|COALESCE|NULLIF|IS\s+NULL|IS\s+NOT\s+NULL)\b)"},
    {"string_ops", R"(\b(?:LIKE|CHARINDEX|PATINDEX|STUFF|REPLACE|SUBSTRING|LEFT|RIGHT|COLLATE|CONCAT)\b)"},
    {"cursor", R"(\bCURSOR\b)"},
    {"cte", R"(\bWITH\s+\w+\s*(?:\([^)]*\))?\s*AS\s*\()"},
    {"json_ops", R"(\b(?:FOR\s+JSON|OPENJSON|JSON_VALUE|JSON_QUERY|JSON_MODIFY)\b)"},
    {"type_cast", R"(\b(?:CAST|CONVERT|TRY_CAST|TRY_CONVERT|DECIMAL|NUMERIC|FLOAT)\b)"},
    {"stored_proc", R"(\b(?:CREATE\s+(?:OR\s+ALTER\s+)?PROC(?:EDURE)?|EXEC(?:UTE)?)\b)"},
    {"merge", R"(\bMERGE\b)"},
    {"temp_table", R"(#\w+|@\w+\s+TABLE)"},
    {"join", R"(\b(?:INNER|LEFT|RIGHT|FULL|CROSS)\s+(?:OUTER\s+)?JOIN\b)"},
    {"aggregation", R"(\b(?:GROUP\s+BY|HAVING|SUM|COUNT|AVG|MIN|MAX)\s*\()"},
    {"query", R"(\bSELECT\b)"},
}};

// Bit i set: kCategories[i] occurs in the text outside its comments.
using CategorySet = std::uint32_t;
static_assert(kCategoryCount <= 32);

// Compiles the category matchers now rather than on first use, so that a module can fail its load.
void prepare();

CategorySet detect_categories(text::View text);

}  // namespace tessera::curator
