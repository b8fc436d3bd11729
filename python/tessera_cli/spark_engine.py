"""``tessera assess --engine spark``: the same rows, computed on a Spark cluster or in Spark's
local mode."""

from __future__ import annotations

import importlib.util
import os
import re
import shutil
import sys
import posixpath
from collections import Counter
from collections.abc import Sequence
from pathlib import Path
from typing import Any
from urllib.parse import unquote, urlsplit

from .estate import REPORT_FIELDS, FileReport, Target, assess_file, extension_of, name_filter, shown

_PACKAGES = ("pyspark", "pyarrow", "pandas")
# A URI with a scheme (s3a://, hdfs://, file:/) goes to Spark as it is; anything else is a local path.
_URI = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]+:")


def java_runtime() -> str | None:
    """The java that Spark would start: JAVA_HOME's first, else the one on the PATH."""
    home = os.environ.get("JAVA_HOME")
    if home:
        candidate = os.path.join(home, "bin", "java")
        return candidate if os.access(candidate, os.X_OK) else None
    return shutil.which("java")


def missing_requirement() -> str | None:
    """What this machine lacks to run Spark, as a sentence for the user, or None."""
    for package in _PACKAGES:
        if importlib.util.find_spec(package) is None:
            return (
                f"--engine spark needs the {package!r} package; install it with "
                "pip install 'tessera-native[spark]'"
            )
    if java_runtime() is None:
        where = "in JAVA_HOME" if os.environ.get("JAVA_HOME") else "on the PATH"
        return (
            f"--engine spark needs a Java runtime and found no java {where}; install one "
            "(on Debian: apt-get install default-jre-headless)"
        )
    return None


def require_spark() -> None:
    problem = missing_requirement()
    if problem is not None:
        print(f"tessera: {problem}", file=sys.stderr)
        sys.exit(2)


def _display(uri: str, roots: Sequence[tuple[str, str]]) -> str:
    """The path as the local engine shows it: under the file or folder given on the command line
    as it was typed. Rows from a URI given as such keep Spark's name."""
    for root, given in roots:
        if uri == root:
            return shown(Path(given))
        if uri.startswith(root + "/"):
            return shown(Path(given, uri[len(root) + 1 :]))
    return uri


ObjectRows = list[dict[str, object]]


def assess_on_spark(
    paths: Sequence[str], patterns: Sequence[str], master: str, skipped: Counter[str], objects: bool = False
) -> list[tuple[tuple[object, ...], ObjectRows | None]]:
    """The rows of every file under ``paths`` whose name matches ``patterns`` (default: the SQL
    extensions), in path order, as the local engine gives them, each with its object rows when
    ``objects`` is set (else None); the files left out by name are counted into ``skipped``."""
    from tessera_spark import assess_files, default_globs, session

    globs = list(patterns) or list(default_globs())
    rows: dict[str, tuple[tuple[object, ...], ObjectRows | None]] = {}
    frames = []
    folders: list[str] = []
    roots: list[tuple[str, str]] = []
    spark = session(master, app_name="tessera assess")
    try:
        for given in paths:
            if _URI.match(given):
                frames.append(assess_files(spark, given, globs, objects))
                folders.append(given)
                continue
            local = Path(given)
            where = os.path.abspath(local)
            if not (local.is_dir() or local.is_file()):
                # Missing, or a FIFO or device that Spark's reader would wait on or fail with:
                # reported as the local engine reports it.
                rows.setdefault(where, (assess_file(Target(local, shown(local))).as_tuple(), [] if objects else None))
                continue
            # A file named explicitly is taken whatever its name, as the local engine takes it.
            frames.append(assess_files(spark, given, globs if local.is_dir() else ["*"], objects))
            roots.append(("file:" + where, given))
            if local.is_dir():
                folders.append(given)
        if frames:
            union = frames[0]
            for frame in frames[1:]:
                union = union.unionByName(frame)
            for row in union.toLocalIterator():
                uri: str = row["path"]
                values = {name: row[name] for name in REPORT_FIELDS[1:]}
                if values["categories"] is not None:
                    values["categories"] = tuple(values["categories"])
                report = FileReport(_display(uri, roots), **values)
                found = None
                if objects:
                    found = [{"row": "object", "path": report.path, **o.asDict()} for o in row["objects"] or ()]
                rows.setdefault(uri.removeprefix("file:"), (report.as_tuple(), found))
        _count_skipped(spark, folders, patterns, skipped)
    finally:
        spark.stop()
    return sorted(rows.values(), key=lambda pair: str(pair[0][0]))


def _count_skipped(spark: Any, folders: Sequence[str], patterns: Sequence[str], skipped: Counter[str]) -> None:
    """Count the files under ``folders`` whose names the patterns leave out, by extension, as the
    local engine counts them; Spark's listing alone, no file is read."""
    if not folders:
        return
    accept = name_filter(patterns or None)
    listing = spark.read.format("binaryFile").option("recursiveFileLookup", "true").load(list(folders))
    for uri in listing.inputFiles():
        name = posixpath.basename(unquote(urlsplit(uri).path))
        if not accept(name):
            skipped[extension_of(name)] += 1
