"""The report as one self-contained HTML page."""

from __future__ import annotations

import datetime
import importlib.util
import json
import secrets
from pathlib import Path
from typing import Any

import jinja2
from markupsafe import Markup

from .data import Estate, columnar

ASSETS = Path(__file__).resolve().parent / "assets"


def plotly_bundle() -> str:
    """The charting library's minified bundle, as the ``plotly`` package ships it.

    Located rather than imported: importing the package would pull in its Python side, which the
    page does not use.
    """
    spec = importlib.util.find_spec("plotly")
    for folder in (spec.submodule_search_locations or []) if spec else []:
        bundle = Path(folder, "package_data", "plotly.min.js")
        if bundle.is_file():
            return bundle.read_text(encoding="utf-8")
    raise FileNotFoundError("plotly.min.js is not in the installed plotly package")


def script_safe(text: str) -> str:
    # Inside <script> only "</script" (any case) and "<!--" can end or confuse the element.
    return text.replace("</script", "<\\/script").replace("</SCRIPT", "<\\/SCRIPT").replace("<!--", "<\\!--")


def json_for_script(value: Any) -> str:
    """JSON that can stand inside a <script> element whatever its strings hold."""
    text = json.dumps(value, ensure_ascii=False, separators=(",", ":"))
    for raw, escaped in (("<", "\\u003c"), (">", "\\u003e"), ("&", "\\u0026"), ("\u2028", "\\u2028"), ("\u2029", "\\u2029")):
        text = text.replace(raw, escaped)
    return text


def _number(value: int) -> str:
    return f"{value:,}"


def tiles(data: dict[str, Any]) -> list[dict[str, Any]]:
    t = data["tiles"]
    turns = t["turns"]
    objects = t["objects"]
    return [
        {"key": "files", "value": _number(t["files"]), "label": "files",
         "detail": f"{_number(t['assessed'])} assessed"},
        {"key": "objects", "value": "not available" if objects is None else _number(objects), "label": "objects",
         "unavailable": objects is None},
        {"key": "total_lines", "value": _number(t["total_lines"]), "label": "lines"},
        {"key": "effective_lines", "value": _number(t["effective_lines"]), "label": "effective lines"},
        {"key": "turns", "value": _number(sum(turns.values())), "label": "agent turns"},
        {"key": "analysis_turns", "value": _number(turns["analysis"]), "label": "analysis turns"},
        {"key": "conversion_turns", "value": _number(turns["conversion"]), "label": "conversion turns"},
        {"key": "audit_turns", "value": _number(turns["audit"]), "label": "audit turns"},
        {"key": "chunked", "value": _number(t["chunked"]), "label": "read in chunks"},
        {"key": "failed", "value": _number(t["failed"]), "label": "could not be read"},
    ]


def render(estate: Estate, roots: list[str]) -> str:
    environment = jinja2.Environment(
        loader=jinja2.FileSystemLoader(ASSETS),
        autoescape=True,
        undefined=jinja2.StrictUndefined,
        keep_trailing_newline=True,
    )
    data = columnar(estate)
    return environment.get_template("page.html.j2").render(
        title="SQL estate report",
        roots=", ".join(roots),
        generated=datetime.datetime.now(datetime.UTC).strftime("%Y-%m-%d %H:%M UTC"),
        nonce=secrets.token_urlsafe(18),
        tiles=tiles(data),
        css=Markup((ASSETS / "report.css").read_text(encoding="utf-8").replace("</", "<\\/")),
        data=Markup(json_for_script(data)),
        plotly=Markup(script_safe(plotly_bundle())),
        script=Markup(script_safe((ASSETS / "report.js").read_text(encoding="utf-8"))),
    )

