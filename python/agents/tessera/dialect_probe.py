"""Stand-in for the host's platform-detection module.

Provides only what ``agents.tessera.dialect_signatures`` takes from it at load: the ``Marker`` record type
and the ten platform identifiers. A host that ships its own ``agents.tessera.dialect_probe`` replaces this
file.
"""

from dataclasses import dataclass
from typing import Final

__all__ = [
    "Marker",
    "PLATFORM_DATABRICKS",
    "PLATFORM_SNOWFLAKE",
    "PLATFORM_POSTGRESQL",
    "PLATFORM_MYSQL",
    "PLATFORM_SQLSERVER",
    "PLATFORM_ORACLE",
    "PLATFORM_REDSHIFT",
    "PLATFORM_BIGQUERY",
    "PLATFORM_TERADATA",
    "PLATFORM_HIVE",
]

PLATFORM_DATABRICKS: Final = "databricks"
PLATFORM_SNOWFLAKE: Final = "snowflake"
PLATFORM_POSTGRESQL: Final = "postgresql"
PLATFORM_MYSQL: Final = "mysql"
PLATFORM_SQLSERVER: Final = "sqlserver"
PLATFORM_ORACLE: Final = "oracle"
PLATFORM_REDSHIFT: Final = "redshift"
PLATFORM_BIGQUERY: Final = "bigquery"
PLATFORM_TERADATA: Final = "teradata"
PLATFORM_HIVE: Final = "hive"


@dataclass(frozen=True, kw_only=True)
class Marker:
    """One dialect marker: a pattern, the platforms it points to and the weight it carries."""

    id: str
    platforms: list[str]
    confidence: str
    pattern: str
    scope: str | None = None
    corroborating_only: bool = False
