"""The tessera analyses written the obvious way, with Python's `re`.

This is what the native modules would look like as ordinary Python. It is the reference that the
differential tests compare the native modules against, and the baseline the benchmarks measure
them against, so it stays deliberately plain: no caching beyond the module tables, no shortcuts,
no cleverness. It imports nothing from `agents.tessera`.

Results are plain values (strings, ints, tuples, dicts) so tests can compare them with the fields
of the native records directly; the grade strings compare equal to the native string enum.
"""

from __future__ import annotations

import math
import re

# --------------------------------------------------------------------------------------------
# Complexity grading
# --------------------------------------------------------------------------------------------

COMPLEX_PATTERNS = [
    re.compile(r"\bCURSOR\b", re.IGNORECASE),
    re.compile(r"\bDECLARE\s+\w+\s+CURSOR\b", re.IGNORECASE),
    re.compile(r"\bEXEC(?:UTE)?\s*\(", re.IGNORECASE),
    re.compile(r"\bsp_executesql\b", re.IGNORECASE),
    re.compile(r"\bDYNAMIC\b", re.IGNORECASE),
    re.compile(r"\bBEGIN\s+TRY\b", re.IGNORECASE),
    re.compile(r"\bBEGIN\s+CATCH\b", re.IGNORECASE),
    re.compile(r"\bMERGE\b", re.IGNORECASE),
    re.compile(r"\bOPENXML\b", re.IGNORECASE),
    re.compile(r"\bhierarchyid\b", re.IGNORECASE),
    re.compile(r"\bgeography\b", re.IGNORECASE),
    re.compile(r"\bgeometry\b", re.IGNORECASE),
    re.compile(r"\bFOR\s+XML\b", re.IGNORECASE),
    re.compile(r"\bOPENJSON\b", re.IGNORECASE),
    re.compile(r"\bLINKED\s+SERVER\b", re.IGNORECASE),
]

MODERATE_PATTERNS = [
    re.compile(r"\bWITH\s+\w+\s*(?:\([^)]*\))?\s*AS\s*\(", re.IGNORECASE),
    re.compile(r"#\w+", re.IGNORECASE),
    re.compile(r"\bCREATE\s+TABLE\b", re.IGNORECASE),
    re.compile(r"\bWHILE\b", re.IGNORECASE),
    re.compile(r"\bIF\s+EXISTS\b", re.IGNORECASE),
    re.compile(r"\bCASE\s+WHEN\b", re.IGNORECASE),
    re.compile(r"\bOVER\s*\(", re.IGNORECASE),
    re.compile(r"\bPIVOT\b", re.IGNORECASE),
    re.compile(r"\bUNPIVOT\b", re.IGNORECASE),
]

STORED_PROC_PATTERN = re.compile(r"\bCREATE\s+(?:OR\s+ALTER\s+)?PROC(?:EDURE)?\b", re.IGNORECASE)

# Line comments go first: a "--" inside a block comment then eats that comment's "*/".
COMMENT_PATTERNS = [
    re.compile(r"--.*$", re.MULTILINE),
    re.compile(r"/\*.*?\*/", re.DOTALL),
]


def strip_comments(sql: str) -> str:
    stripped = sql
    for pattern in COMMENT_PATTERNS:
        stripped = pattern.sub("", stripped)
    return stripped


def classify_counts(sql: str) -> dict:
    stripped = strip_comments(sql)

    lines = [line.strip() for line in stripped.splitlines()]
    effective_lines = len([line for line in lines if line])

    complex_count = sum(1 for p in COMPLEX_PATTERNS if p.search(stripped))
    moderate_count = sum(1 for p in MODERATE_PATTERNS if p.search(stripped))
    stored_proc_count = len(STORED_PROC_PATTERN.findall(stripped))

    temp_table_count = len(re.findall(r"#\w+", stripped))
    cte_count = len(re.findall(r"\bWITH\s+\w+\s*(?:\([^)]*\))?\s*AS\s*\(", stripped, re.IGNORECASE))

    if complex_count > 0 or effective_lines > 300 or stored_proc_count > 1:
        complexity = "complex"
    elif moderate_count > 2 or effective_lines > 50 or stored_proc_count == 1:
        complexity = "moderate"
    else:
        complexity = "simple"

    return {
        "complexity": complexity,
        "effective_lines": effective_lines,
        "stored_proc_count": stored_proc_count,
        "complex_construct_count": complex_count,
        "moderate_construct_count": moderate_count,
        "temp_table_count": temp_table_count,
        "cte_count": cte_count,
    }


def budgets(effective_lines, complex_construct_count, stored_proc_count):
    """Turn budgets (analysis, conversion, audit) for a graded script."""
    analysis = min(3 + min(effective_lines // 300, 3) + min(complex_construct_count, 2), 8)

    line_turns = (effective_lines // 100) * 2
    construct_turns = complex_construct_count * 2
    proc_turns = 3 if stored_proc_count > 0 else 0
    conversion = min(5 + line_turns + construct_turns + proc_turns + 4, 40)

    return analysis, conversion, 3


# --------------------------------------------------------------------------------------------
# Reading plan for long files
# --------------------------------------------------------------------------------------------

SECTION_DELIMITERS = [
    re.compile(r"^\s*GO\s*$", re.IGNORECASE | re.MULTILINE),
    re.compile(r"^\s*CREATE\s+(?:OR\s+ALTER\s+)?(?:PROC|PROCEDURE|FUNCTION|VIEW|TRIGGER)\b", re.IGNORECASE | re.MULTILINE),
    re.compile(r"^--\s*={3,}", re.MULTILINE),
    re.compile(r"^--\s*-{3,}", re.MULTILINE),
    re.compile(r"^--\s*Section\s+\d", re.IGNORECASE | re.MULTILINE),
]

WHOLE_FILE_LIMIT = 500
LINES_PER_SECTION = 300
MIN_SECTIONS = 2
MAX_SECTIONS = 5
FIRST_READ = 150
MIN_SECTION_SPAN = 20
HINT_CHARS = 50


def _section_edges(raw_lines):
    """The target section count and the ascending, distinct line numbers that cut the file."""
    total_lines = len(raw_lines)
    target_sections = max(MIN_SECTIONS, min(total_lines // LINES_PER_SECTION, MAX_SECTIONS))

    major_boundaries = []
    for i, line in enumerate(raw_lines):
        stripped = line.strip()
        if re.match(r"^GO\s*$", stripped, re.IGNORECASE):
            major_boundaries.append(i + 1)
        elif re.match(r"^CREATE\s+(?:OR\s+ALTER\s+)?(?:PROC|PROCEDURE|FUNCTION)\b", stripped, re.IGNORECASE):
            major_boundaries.append(i + 1)

    if len(major_boundaries) > target_sections:
        step = max(1, len(major_boundaries) // target_sections)
        major_boundaries = [major_boundaries[i * step] for i in range(target_sections)]

    # A lone structural line says nothing about where the rest of the file divides.
    if len(major_boundaries) <= 1:
        chunk_size = total_lines // target_sections
        major_boundaries = [chunk_size * i for i in range(1, target_sections)]

    all_boundaries = sorted(set([1] + major_boundaries + [total_lines]))
    return target_sections, all_boundaries


def _hint(raw_lines, start, end):
    hint_idx = start - 1
    if 0 <= hint_idx < len(raw_lines):
        hint_line = raw_lines[hint_idx].strip()[:HINT_CHARS]
        if hint_line and not hint_line.startswith("--"):
            return hint_line
    return f"SQL block ({end - start + 1} lines)"


def _merge_smallest(sections, target_sections):
    while len(sections) > target_sections:
        min_size = math.inf
        min_idx = 0
        for i in range(len(sections) - 1):
            combined = sections[i + 1][1] - sections[i][0]
            if combined < min_size:
                min_size = combined
                min_idx = i
        start, _, hint = sections[min_idx]
        sections[min_idx] = (start, sections[min_idx + 1][1], hint)
        del sections[min_idx + 1]
    return sections


def plan_reading(content: str, *, mended: bool = True):
    """(should_chunk, total_lines, first_read_lines, sections) for text already read from a file.

    A pair of edges closer than MIN_SECTION_SPAN lines is not thrown away: its lines go to the
    section before it, or, when there is none yet, to the pair after it, so no line after the
    first read is left out of the plan.

    The carried-forward case always ends in a kept section. Pairs that end inside the first read
    are skipped outright, so the first pair that gets this far starts at line 150 or 151, and a
    start carried forward never moves later than that. The last pair ends at total_lines, which
    is at least 501 here, so by the time the last pair is reached with a start still carried, its
    span is at least 501 - 151 = 350 lines and it is kept. A section therefore always exists, and
    the plan covers every line from the first section's start to the end of the file.

    With mended=False, the planner as first written: a short pair is dropped, and its lines
    belong to no section.
    """
    raw_lines = content.splitlines()
    total_lines = len(raw_lines)
    if total_lines <= WHOLE_FILE_LIMIT:
        return False, total_lines, total_lines, ()

    target_sections, all_boundaries = _section_edges(raw_lines)
    first_read = min(FIRST_READ, total_lines)

    sections = []
    carried_start = None
    for i in range(len(all_boundaries) - 1):
        start = all_boundaries[i]
        end = all_boundaries[i + 1]
        if end <= first_read:
            continue
        if start < first_read:
            start = first_read + 1
        if carried_start is not None:
            start = carried_start
            carried_start = None
        if end - start < MIN_SECTION_SPAN:
            if not mended:
                continue
            if sections:
                prev_start, _, prev_hint = sections[-1]
                sections[-1] = (prev_start, end, prev_hint)
            else:
                carried_start = start
            continue
        sections.append((start, end, _hint(raw_lines, start, end)))

    sections = _merge_smallest(sections, target_sections)
    return True, total_lines, first_read, tuple(sections)


def plan_reading_unmended(content: str):
    return plan_reading(content, mended=False)


def format_instructions(should_chunk, total_lines, first_read_lines, sections, sql_path) -> str:
    if not should_chunk:
        return f"Read the complete SQL file at `{sql_path}` using the Read tool."

    lines = [
        f"This is a {total_lines}-line SQL file. Read it strategically:",
        f"1. Read lines 1-{first_read_lines} to understand structure "
        "(SET statements, parameters, procedure signature).",
        "2. Then read each logical section:",
    ]
    for start, end, hint in sections:
        lines.append(f"   - Lines {start}-{end}: {hint}")
    lines.append(
        "\nUse the Read tool with offset and limit parameters. "
        "Do NOT try to read the entire file in one Read call."
    )
    return "\n".join(lines)


# --------------------------------------------------------------------------------------------
# Construct categories and knowledge selection
# --------------------------------------------------------------------------------------------

CONSTRUCT_TO_MAPPING_SECTIONS = {
    "date_function": ["Date Functions"],
    "window_function": ["Window Functions"],
    "null_handling": ["NULL Semantics (CRITICAL)", "NULL Handling"],
    "string_ops": ["String Functions", "String Collation"],
    "cursor": ["Cursor Patterns"],
    "cte": ["CTE / Subqueries"],
    "json_ops": ["JSON Operations"],
    "type_cast": ["Data Type Mapping with Gotchas", "Type Casting"],
    "stored_proc": ["Stored Procedures & Functions"],
    "merge": ["Control Flow"],
    "temp_table": ["Data Structures"],
    "join": ["Joins"],
    "aggregation": ["Aggregations"],
    "query": ["Queries & Filters"],
}

CONSTRUCT_TO_GOTCHA_SECTIONS = {
    "date_function": [
        "1. DATEDIFF Argument Order Reversed",
        "6. months_between Returns DOUBLE Not INT",
        "7. date_sub with Negative Goes FORWARD",
    ],
    "window_function": ["4. Window Frame RANGE Includes Duplicates"],
    "null_handling": [
        "3. NULL Ordering in ORDER BY",
        "10. BIT Column NULL Handling",
        "9. COUNT(*) vs COUNT(col) with NULLs",
    ],
    "string_ops": ["2. Case-Sensitive String Comparison"],
    "cursor": ["8. Python UDF 50-100x Slower Than Native F.xxx"],
    "type_cast": ["5. Decimal Arithmetic Precision Loss"],
}

ALWAYS_INCLUDE_MAPPING = ["Data Type Mapping with Gotchas", "NULL Semantics (CRITICAL)"]

ALWAYS_INCLUDE_GOTCHAS = []

CATEGORY_PATTERNS = {
    "date_function": re.compile(
        r"\b(?:DATEDIFF|DATEADD|GETDATE|GETUTCDATE|EOMONTH|DATEPART|DATENAME|DATETRUNC|SYSDATETIME|SYSUTCDATETIME)\b",
        re.IGNORECASE,
    ),
    "window_function": re.compile(
        r"\b(?:ROW_NUMBER|RANK|DENSE_RANK|NTILE|LAG|LEAD|CUME_DIST|PERCENT_RANK)\s*\(", re.IGNORECASE
    ),
    "null_handling": re.compile(r"\b(?:ISNULL|COALESCE|NULLIF|IS\s+NULL|IS\s+NOT\s+NULL)\b", re.IGNORECASE),
    "string_ops": re.compile(
        r"\b(?:LIKE|CHARINDEX|PATINDEX|STUFF|REPLACE|SUBSTRING|LEFT|RIGHT|COLLATE|CONCAT)\b", re.IGNORECASE
    ),
    "cursor": re.compile(r"\bCURSOR\b", re.IGNORECASE),
    "cte": re.compile(r"\bWITH\s+\w+\s*(?:\([^)]*\))?\s*AS\s*\(", re.IGNORECASE),
    "json_ops": re.compile(r"\b(?:FOR\s+JSON|OPENJSON|JSON_VALUE|JSON_QUERY|JSON_MODIFY)\b", re.IGNORECASE),
    "type_cast": re.compile(r"\b(?:CAST|CONVERT|TRY_CAST|TRY_CONVERT|DECIMAL|NUMERIC|FLOAT)\b", re.IGNORECASE),
    "stored_proc": re.compile(r"\b(?:CREATE\s+(?:OR\s+ALTER\s+)?PROC(?:EDURE)?|EXEC(?:UTE)?)\b", re.IGNORECASE),
    "merge": re.compile(r"\bMERGE\b", re.IGNORECASE),
    "temp_table": re.compile(r"#\w+|@\w+\s+TABLE", re.IGNORECASE),
    "join": re.compile(r"\b(?:INNER|LEFT|RIGHT|FULL|CROSS)\s+(?:OUTER\s+)?JOIN\b", re.IGNORECASE),
    "aggregation": re.compile(r"\b(?:GROUP\s+BY|HAVING|SUM|COUNT|AVG|MIN|MAX)\s*\(", re.IGNORECASE),
    "query": re.compile(r"\bSELECT\b", re.IGNORECASE),
}


def detect_categories(sql: str) -> set[str]:
    stripped = re.sub(r"--.*$", "", sql, flags=re.MULTILINE)
    stripped = re.sub(r"/\*.*?\*/", "", stripped, flags=re.DOTALL)

    categories = set()
    for category, pattern in CATEGORY_PATTERNS.items():
        if pattern.search(stripped):
            categories.add(category)
    return categories


def extract_sections(full_text: str, headers) -> str:
    if not headers or not full_text:
        return ""

    sections = re.split(r"(?=^## )", full_text, flags=re.MULTILINE)
    matched = []
    for section in sections:
        section_stripped = section.strip()
        if not section_stripped:
            continue
        first_line = section_stripped.split("\n", 1)[0]
        header_text = first_line.lstrip("#").strip()
        for h in headers:
            if h.lower() in header_text.lower() or header_text.lower() in h.lower():
                matched.append(section_stripped)
                break
    return "\n\n".join(matched)


def word_count(text: str) -> int:
    return len(text.split())


def reduction_pct(selected_words: int, full_words: int) -> int:
    return round((1 - selected_words / max(full_words, 1)) * 100)


def select_knowledge(categories, *, full_mapping, full_gotchas, full_limitations=""):
    """(selection, event fields): the cut-down documents and the fields of the log event, in the
    order the event carries them."""
    mapping_headers = set(ALWAYS_INCLUDE_MAPPING)
    gotcha_headers = set(ALWAYS_INCLUDE_GOTCHAS)
    for category in categories:
        mapping_headers.update(CONSTRUCT_TO_MAPPING_SECTIONS.get(category, []))
        gotcha_headers.update(CONSTRUCT_TO_GOTCHA_SECTIONS.get(category, []))

    selected_mapping = extract_sections(full_mapping, mapping_headers)
    selected_gotchas = extract_sections(full_gotchas, gotcha_headers)

    token_estimate = word_count(selected_mapping) + word_count(selected_gotchas)
    full_estimate = word_count(full_mapping) + word_count(full_gotchas)

    event = {
        "categories": sorted(categories),
        "mapping_sections": len(mapping_headers),
        "gotcha_sections": len(gotcha_headers),
        "token_estimate": token_estimate,
        "full_tokens": full_estimate,
        "reduction_pct": reduction_pct(token_estimate, full_estimate),
    }
    result = {
        "mapping": selected_mapping,
        "gotchas": selected_gotchas,
        "limitations": full_limitations,
    }
    return result, event
