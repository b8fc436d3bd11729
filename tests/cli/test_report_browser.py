"""The HTML report in a real browser: Debian's Chromium driven through its chromedriver."""

import json
import os
import shutil
from pathlib import Path

import pytest

pytestmark = pytest.mark.browser

ROOT = Path(__file__).resolve().parents[2]
XSS = "<img src=x onerror=alert(1)>.sql"


def _missing(what: str) -> None:
    message = f"{what} (apt-get install -y chromium chromium-driver; pip install '.[test]')"
    if os.environ.get("CI"):
        pytest.fail(f"browser test cannot run: {message}")
    pytest.skip(f"browser test skipped: {message}")


@pytest.fixture(scope="module")
def browser():
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        _missing("selenium is not installed")
    binary = shutil.which("chromium") or shutil.which("chromium-browser")
    driver_path = shutil.which("chromedriver")
    if binary is None:
        _missing("Chromium is not installed")
    if driver_path is None:
        _missing("chromedriver is not installed")
    options = webdriver.ChromeOptions()
    options.binary_location = binary
    for flag in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu", "--window-size=1400,1000"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    # Under the sanitizer build the runtimes are preloaded into this interpreter; the browser is
    # not instrumented and must not inherit them.
    env = {key: value for key, value in os.environ.items() if key != "LD_PRELOAD"}
    driver = webdriver.Chrome(options=options, service=Service(driver_path, env=env))
    driver.set_page_load_timeout(60)
    yield driver
    driver.quit()


@pytest.fixture(scope="module")
def estate(tmp_path_factory, run_cli):
    """The examples, a failing file and hostile names, with their report and assess's figures."""
    root = tmp_path_factory.mktemp("browser")
    estate = root / "estate"
    shutil.copytree(ROOT / "examples", estate / "examples", ignore=shutil.ignore_patterns("knowledge"))
    (estate / "odd").mkdir()
    (estate / "odd" / XSS).write_text("SELECT 1 FROM t;\n")
    (estate / "odd" / "quote\"s & 'apos'.sql").write_text("SELECT a, COUNT(*) FROM t GROUP BY a;\n")
    (estate / "odd" / "broken.sql").write_bytes(b"SELECT '\xff';\n")
    page = root / "report.html"
    run = run_cli("report", str(estate), "-o", str(page))
    assert run.returncode == 1, run.stderr
    assessed = json.loads(run_cli("assess", str(estate), "--format", "json").stdout)
    return page, assessed


def _open(browser, page: Path) -> None:
    from selenium.webdriver.support.ui import WebDriverWait

    browser.get_log("browser")
    browser.get_log("performance")
    browser.get(page.as_uri())
    WebDriverWait(browser, 30).until(lambda d: d.execute_script("return document.body.dataset.ready === 'true'"))


def _rows(browser) -> list[list[str]]:
    return browser.execute_script(
        "return [...document.querySelectorAll('#files tbody tr')].map(r => [...r.cells].map(c => c.textContent))"
    )


def _header(browser) -> list[str]:
    return browser.execute_script("return [...document.querySelectorAll('#files thead th')].map(c => c.textContent)")


def test_the_page_renders_offline_without_errors_and_shows_the_estate(browser, estate):
    from selenium.common.exceptions import NoAlertPresentException
    from selenium.webdriver.common.by import By

    page, assessed = estate
    _open(browser, page)
    summary = assessed["summary"]

    # Every chart drawn (or, for a module not installed, saying so), and nothing went wrong.
    states = browser.execute_script(
        "return [...document.querySelectorAll('.chart')].map(c => c.querySelector('.main-svg') ? 'drawn' :"
        " c.querySelector('.unavailable') ? 'unavailable' : 'blank')"
    )
    assert len(states) == 5 and "blank" not in states and states.count("drawn") >= 4
    errors = [entry for entry in browser.get_log("browser") if entry["level"] in ("SEVERE", "WARNING")]
    assert errors == []
    requested = set()
    for entry in browser.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] == "Network.requestWillBeSent":
            requested.add(message["params"]["request"]["url"])
    assert requested <= {page.as_uri()}, "the page reached for something outside itself"

    tiles = {
        tile.get_attribute("data-tile"): tile.find_element(By.CLASS_NAME, "value").text
        for tile in browser.find_elements(By.CSS_SELECTOR, ".tile")
    }
    assert tiles["files"] == str(summary["files"])
    assert tiles["failed"] == str(summary["failed"]) == "1"
    assert tiles["total_lines"] == f"{summary['total_lines']:,}"
    assert tiles["effective_lines"] == f"{summary['effective_lines']:,}"
    assert tiles["chunked"] == str(len(summary["chunked"]))
    for phase in ("analysis", "conversion", "audit"):
        assert tiles[f"{phase}_turns"] == f"{summary['turns'][phase]:,}"

    # The hostile name is text in its cell, and nothing it carries ran.
    try:
        browser.switch_to.alert
        pytest.fail("a file name ran script")
    except NoAlertPresentException:
        pass
    assert browser.execute_script("return document.querySelectorAll('img').length") == 0
    paths = [row[0] for row in _rows(browser)]
    assert [p for p in paths if p.endswith(XSS)] and any(p.endswith("quote\"s & 'apos'.sql") for p in paths)
    assert sorted(paths) == sorted(row["path"] for row in assessed["files"])
    failures = browser.execute_script(
        "return [...document.querySelectorAll('#failures tbody tr')].map(r => [...r.cells].map(c => c.textContent))"
    )
    assert failures == [[f["path"], f["reason"]] for f in summary["failures"]]


def test_the_files_table_sorts_and_filters(browser, estate):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select

    page, assessed = estate
    _open(browser, page)
    header = _header(browser)
    lines, grade = header.index("Lines"), header.index("Grade")
    sort_by_lines = browser.find_element(By.CSS_SELECTOR, "#files th button[data-sort]:not([data-sort=''])")
    sort_by_lines = [b for b in browser.find_elements(By.CSS_SELECTOR, "#files th button") if b.text == "Lines"][0]

    def numbers(column: int) -> list[int]:
        return [int(row[column].replace(",", "") or -1) for row in _rows(browser)]

    sort_by_lines.click()
    assert numbers(lines) == sorted(numbers(lines), reverse=True)
    assert numbers(lines)[0] == max(row["total_lines"] or 0 for row in assessed["files"])
    sort_by_lines.click()
    assert numbers(lines) == sorted(numbers(lines))

    Select(browser.find_element(By.ID, "filter-grade")).select_by_visible_text("complex")
    complex_paths = sorted(r["path"] for r in assessed["files"] if r["grade"] == "complex")
    assert sorted(row[0] for row in _rows(browser)) == complex_paths
    assert {row[grade] for row in _rows(browser)} == {"complex"}

    Select(browser.find_element(By.ID, "filter-category")).select_by_visible_text("cursor")
    assert sorted(row[0] for row in _rows(browser)) == sorted(
        r["path"] for r in assessed["files"] if r["grade"] == "complex" and "cursor" in r["categories"]
    )
    Select(browser.find_element(By.ID, "filter-grade")).select_by_visible_text("all")
    Select(browser.find_element(By.ID, "filter-category")).select_by_visible_text("all")

    browser.find_element(By.ID, "filter-path").send_keys("ONERROR")
    assert [row[0] for row in _rows(browser)] == [r["path"] for r in assessed["files"] if "onerror" in r["path"]]
    browser.find_element(By.ID, "filter-path").clear()
    browser.find_element(By.ID, "filter-path").send_keys("no such path")
    assert _rows(browser) == [["none"]]


def test_dialects_and_objects_show_when_their_modules_answer(browser, tmp_path):
    """The page's other branch: the dialect chart and filter and the hardest objects, from the
    modules' answers (stand-ins with their interfaces here, so this runs before they land)."""
    from types import SimpleNamespace

    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select

    from tessera_cli.estate import discover
    from tessera_cli.report import data, html

    for i in range(30):
        body = "SELECT 1;\n" * i + "CREATE PROCEDURE dbo.p AS SELECT 1\n"
        (tmp_path / f"p{i:02d}.sql").write_text(body if i % 3 else "SELECT x FROM t;\n")

    def detect_dialect(text):
        return SimpleNamespace(platform="sqlserver" if "PROCEDURE" in text else None)

    def grade_objects(text):
        lines = text.count("\n")
        return [SimpleNamespace(
            object=SimpleNamespace(kind="procedure", name=f"dbo.<b>p{lines}</b>", statement="create",
                                   first_line=lines, last_line=lines),
            result=SimpleNamespace(complexity="complex", effective_lines=lines, recommended_analysis_turns=1,
                                   recommended_conversion_turns=lines, recommended_audit_turns=1),
        )] if "PROCEDURE" in text else []

    modules = {"dialect_detect": SimpleNamespace(detect_dialect=detect_dialect),
               "inventory": SimpleNamespace(grade_objects=grade_objects)}
    estate = data.collect(discover([str(tmp_path)], "*.sql"), 2, modules=modules)
    page = tmp_path / "report.html"
    page.write_text(html.render(estate, [str(tmp_path)]), encoding="utf-8")
    _open(browser, page)
    assert [e for e in browser.get_log("browser") if e["level"] in ("SEVERE", "WARNING")] == []

    drawn = browser.execute_script("return [...document.querySelectorAll('.chart')].filter(c => c.querySelector('.main-svg')).length")
    assert drawn == 5
    assert browser.find_element(By.CSS_SELECTOR, '[data-tile="objects"] .value').text == "20"
    hardest = browser.execute_script(
        "return [...document.querySelectorAll('#hardest tbody tr')].map(r => r.cells[0].textContent)"
    )
    assert len(hardest) == 20 and hardest[0] == "dbo.<b>p30</b>"
    assert browser.execute_script("return document.querySelectorAll('b').length") == 0

    Select(browser.find_element(By.ID, "filter-dialect")).select_by_visible_text("undecided")
    dialect = _header(browser).index("Dialect")
    rows = _rows(browser)
    assert len(rows) == 10 and {row[dialect] for row in rows} == {"undecided"}
