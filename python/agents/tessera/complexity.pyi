import re
from dataclasses import dataclass
from enum import StrEnum
from pathlib import Path
from typing import Any

# Whatever the host's structlog configuration makes of structlog.get_logger().
logger: Any

_COMPLEX_PATTERNS: list[re.Pattern[str]]
_MODERATE_PATTERNS: list[re.Pattern[str]]
_STORED_PROC_PATTERN: re.Pattern[str]
_COMMENT_PATTERNS: list[re.Pattern[str]]

class SQLComplexity(StrEnum):
    SIMPLE = "simple"
    MODERATE = "moderate"
    COMPLEX = "complex"

@dataclass(frozen=True)
class ComplexityResult:
    complexity: SQLComplexity
    effective_lines: int
    stored_proc_count: int
    complex_construct_count: int
    moderate_construct_count: int
    temp_table_count: int
    cte_count: int
    @property
    def recommended_analysis_turns(self) -> int: ...
    @property
    def recommended_conversion_turns(self) -> int: ...
    @property
    def recommended_audit_turns(self) -> int: ...

def classify_sql(sql_content: str) -> ComplexityResult: ...
def classify_sql_file(sql_path: Path) -> ComplexityResult: ...

_SECTION_DELIMITERS: list[re.Pattern[str]]

@dataclass(frozen=True)
class FileReadingStrategy:
    should_chunk: bool
    total_lines: int
    first_read_lines: int
    section_boundaries: tuple[tuple[int, int, str], ...]
    def format_reading_instructions(self, sql_path: str) -> str: ...

def plan_reading_strategy(sql_path: Path) -> FileReadingStrategy: ...
