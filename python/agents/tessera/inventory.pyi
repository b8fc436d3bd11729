from dataclasses import dataclass
from enum import StrEnum
from pathlib import Path
from typing import Any

from agents.tessera.complexity import ComplexityResult

# Whatever the host's structlog configuration makes of structlog.get_logger().
logger: Any

class ObjectKind(StrEnum):
    PROCEDURE = "procedure"
    FUNCTION = "function"
    VIEW = "view"
    TRIGGER = "trigger"
    TABLE = "table"
    INDEX = "index"
    SCHEMA = "schema"
    SEQUENCE = "sequence"
    TYPE = "type"
    PACKAGE = "package"
    PACKAGE_BODY = "package_body"
    MACRO = "macro"
    OTHER = "other"

@dataclass(frozen=True)
class SqlObject:
    kind: ObjectKind
    name: str
    raw_name: str
    # "create", "create_or_alter", "create_or_replace" or "alter"
    statement: str
    first_line: int
    last_line: int

@dataclass(frozen=True)
class GradedObject:
    object: SqlObject
    result: ComplexityResult

@dataclass(frozen=True)
class ObjectReadingPlan:
    total_lines: int
    first_read_lines: int
    sections: tuple[tuple[int, int, str], ...]

def find_objects(text: str) -> list[SqlObject]: ...
def _find_objects_line_by_line(text: str, /) -> list[SqlObject]: ...
def find_objects_file(path: Path) -> list[SqlObject]: ...
def grade_objects(text: str) -> list[GradedObject]: ...
def plan_object_reading(text: str, max_section_lines: int = 1500) -> ObjectReadingPlan: ...
def plan_object_reading_file(path: Path, max_section_lines: int = 1500) -> ObjectReadingPlan: ...
def format_object_reading_instructions(plan: ObjectReadingPlan, file_path: str) -> str: ...
