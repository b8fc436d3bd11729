"""A report is either complete or recognisably not: real signals, real pipes, a full device and a
read-only folder against the command run as a user runs it."""

import json
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
COMMAND = [sys.executable, "-m", "tessera_cli", "assess"]


@pytest.fixture(scope="module")
def estate(tmp_path_factory) -> Path:
    """Enough files that a run is still going when it is interrupted, and that its report
    overflows a pipe's buffer."""
    root = tmp_path_factory.mktemp("estate")
    for folder in range(20):
        (root / f"f{folder:02d}").mkdir()
        for i in range(250):
            (root / f"f{folder:02d}" / f"s{i:03d}.sql").write_text(f"SELECT {i} FROM t{folder};\n")
    return root


def _start(*args: str, **options) -> subprocess.Popen:
    # A run started in the background by a shell without job control ignores SIGINT, and so would the
    # command under test: it gets the default disposition, as when started from a terminal.
    return subprocess.Popen([*COMMAND, *args], cwd=ROOT, text=True, stderr=subprocess.PIPE,
                            preexec_fn=_default_interrupt, **options)


def _default_interrupt() -> None:
    signal.signal(signal.SIGINT, signal.SIG_DFL)


def _wait_for(condition, process: subprocess.Popen) -> None:
    deadline = time.monotonic() + 120
    while not condition():
        assert process.poll() is None, process.communicate()
        assert time.monotonic() < deadline
        time.sleep(0.001)


def _temporaries(folder: Path) -> list[str]:
    return [name for name in os.listdir(folder) if name.endswith(".tmp")]


@pytest.mark.parametrize(
    ("signum", "status", "said"),
    [(signal.SIGINT, 130, "tessera: interrupted\n"), (signal.SIGTERM, 143, "tessera: terminated\n")],
)
def test_an_interrupted_run_leaves_the_previous_report_and_nothing_else(estate, tmp_path, signum, status, said):
    report = tmp_path / "report.json"
    report.write_text("the previous report")
    # A missing file would make the status 1; the interruption wins.
    run = _start(str(estate), str(tmp_path / "missing.sql"), "--jobs", "1", "-o", str(report),
                 stdout=subprocess.DEVNULL)
    # The report is begun beside its target before the first file is assessed: the run is held
    # there, so the signal surely lands mid-run.
    _wait_for(lambda: _temporaries(tmp_path), run)
    run.send_signal(signal.SIGSTOP)
    assert _temporaries(tmp_path), "the run finished before it could be interrupted"
    run.send_signal(signum)
    run.send_signal(signal.SIGCONT)
    _, err = run.communicate(timeout=120)
    assert (run.returncode, err) == (status, said)
    assert report.read_text() == "the previous report"
    assert os.listdir(tmp_path) == ["report.json"]


def test_an_interrupted_stream_has_no_summary_row(estate):
    run = _start(str(estate), "--format", "jsonl", "--jobs", "1", stdout=subprocess.PIPE)
    first = run.stdout.readline()
    run.send_signal(signal.SIGINT)
    # Read on through the same buffered stream (communicate() would skip what it holds already).
    rest = run.stdout.read()
    assert (run.wait(timeout=120), run.stderr.read()) == (130, "tessera: interrupted\n")
    # Cut anywhere, even inside a row, but never with a row missing before the cut.
    rows = [json.loads(line) for line in (first + rest).split("\n")[:-1]]
    assert rows and {row["row"] for row in rows} == {"file"}
    assert [row["path"] for row in rows] == sorted(row["path"] for row in rows)
    assert len({row["path"] for row in rows}) == len(rows)

    whole = subprocess.run([*COMMAND, str(estate), "--format", "jsonl"], cwd=ROOT, capture_output=True, text=True)
    last = json.loads(whole.stdout.splitlines()[-1])
    assert (last["row"], last["files"], last["assessed"]) == ("summary", 5000, 5000)


def test_a_closed_pipe_ends_the_run_quietly_with_141(estate):
    run = _start(str(estate), "--format", "jsonl", stdout=subprocess.PIPE)
    assert json.loads(run.stdout.readline())["row"] == "file"
    run.stdout.close()  # as `head -1` does
    assert run.wait(timeout=120) == 141
    assert run.stderr.read() == ""


def test_a_full_device_is_one_line_and_status_3_even_with_unreadable_files(estate, tmp_path):
    if not Path("/dev/full").exists():
        pytest.skip("no /dev/full here")
    given = [str(estate / "f00"), str(tmp_path / "missing.sql")]
    to_file = subprocess.run([*COMMAND, *given, "-o", "/dev/full"], cwd=ROOT, capture_output=True, text=True)
    assert (to_file.returncode, to_file.stderr) == (3, "tessera: cannot write /dev/full: no space left on device\n")
    with open("/dev/full", "w") as full:
        to_stdout = subprocess.run([*COMMAND, *given, "--format", "csv"], cwd=ROOT, stdout=full,
                                   stderr=subprocess.PIPE, text=True)
    assert (to_stdout.returncode, to_stdout.stderr) == (3, "tessera: cannot write stdout: no space left on device\n")


def _read_only(folder: Path) -> list[str]:
    """A prefix that runs a command with ``folder`` read-only. Root writes whatever the mode, so
    there the folder is mounted read-only in a mount namespace of the command's own."""
    if os.geteuid() != 0:
        folder.chmod(0o555)
        return []
    prefix = ["unshare", "--mount", "--propagation", "private", "sh", "-c",
              'mount --bind "$0" "$0" && mount -o remount,bind,ro "$0" "$0" && exec "$@"', str(folder)]
    if shutil.which("unshare") is None or subprocess.run([*prefix, "true"], capture_output=True).returncode != 0:
        if os.environ.get("CI"):
            pytest.fail("root needs unshare and mount to make a read-only folder")
        pytest.skip("root cannot make a read-only folder here (unshare, mount)")
    return prefix


def test_a_read_only_folder_keeps_the_previous_report(estate, tmp_path):
    folder = tmp_path / "reports"
    folder.mkdir()
    report = folder / "report.json"
    report.write_text("the previous report")
    prefix = _read_only(folder)
    try:
        done = subprocess.run([*prefix, *COMMAND, str(estate / "f00"), "-o", str(report)], cwd=ROOT,
                              capture_output=True, text=True)
    finally:
        folder.chmod(0o755)
    assert done.returncode == 3
    reason = "read-only file system" if prefix else "permission denied"
    assert done.stderr == f"tessera: cannot write {report}: {reason}\n"
    assert report.read_text() == "the previous report"
    assert os.listdir(folder) == ["report.json"]


def test_a_finished_report_replaces_the_file_a_link_names_and_keeps_its_mode(estate, tmp_path):
    real = tmp_path / "real.json"
    real.write_text("old")
    real.chmod(0o640)
    link = tmp_path / "link.json"
    link.symlink_to(real)
    done = subprocess.run([*COMMAND, str(estate / "f00"), "-o", str(link)], cwd=ROOT, capture_output=True, text=True)
    assert (done.returncode, done.stderr) == (0, "")
    assert link.is_symlink()
    assert json.loads(real.read_text())["summary"]["files"] == 250
    assert real.stat().st_mode & 0o777 == 0o640
    assert sorted(os.listdir(tmp_path)) == ["link.json", "real.json"]


def test_help_lists_every_exit_status(run_cli):
    done = run_cli("assess", "--help")
    text = " ".join(done.stdout.split())
    for status in ("0 every file assessed", "1 some files could not be read", "2 usage error",
                   "3 the report could not be written", "130 interrupted", "143 terminated", "141"):
        assert status in text
