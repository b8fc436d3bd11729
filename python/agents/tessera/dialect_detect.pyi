from dataclasses import dataclass
from pathlib import Path

@dataclass(frozen=True)
class Evidence:
    source: str
    id: str
    platforms: tuple[str, ...]
    line: int
    text: str
    weight: float

@dataclass(frozen=True)
class DialectVerdict:
    platform: str | None
    confidence: float
    runner_up: str | None
    scores: dict[str, float]
    evidence: tuple[Evidence, ...]

_LEXICON: tuple[tuple[str, tuple[str, ...], str], ...]
# For other native modules: a capsule named "agents.tessera.dialect_detect._DETECTOR" holding the
# table of functions that give detect_dialect's platform for a text's storage, without the GIL.
_DETECTOR: object

def find_markers(text: str) -> dict[str, tuple[int, int]]: ...
def detect_dialect(text: str) -> DialectVerdict: ...
def detect_dialect_file(path: Path) -> DialectVerdict: ...
