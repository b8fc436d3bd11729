"""Report output that never passes a partial or failed report off as a finished one, and the exit
statuses that tell the cases apart."""

from __future__ import annotations

import errno
import os
import signal
import stat
import sys
import tempfile
from collections.abc import Iterator
from contextlib import contextmanager
from pathlib import Path
from types import FrameType
from typing import IO, Any

# The exit statuses of the command; when several apply, an interruption wins, then a report that
# could not be written, then files that could not be read.
OK = 0
UNREADABLE_FILES = 1
USAGE = 2
WRITE_FAILED = 3
INTERRUPTED = 130  # SIGINT, Ctrl-C
TERMINATED = 143  # SIGTERM
CLOSED_PIPE = 141  # the reader of stdout went away

EXIT_STATUSES = (
    "0 every file assessed; 1 some files could not be read; 2 usage error; 3 the report could not "
    "be written; 130 interrupted (Ctrl-C); 143 terminated (SIGTERM); 141 the reader of the output "
    "went away. An interruption wins over 3, and 3 over 1."
)


class WriteFailed(Exception):
    """The report could not be written; ``target`` as the user named it."""

    def __init__(self, target: str, reason: str) -> None:
        super().__init__(f"cannot write {target}: {reason}")
        self.target = target
        self.reason = reason


class ClosedPipe(Exception):
    """The reader at the other end of the output is gone."""


class Terminated(BaseException):
    """SIGTERM, raised in the main thread as Ctrl-C raises KeyboardInterrupt; a BaseException for
    the same reason, so that no ``except Exception`` on the way swallows it."""


def _reason(error: OSError) -> str:
    text = error.strerror or str(error)
    return text[:1].lower() + text[1:]


class _Guarded:
    """A text stream whose failures name the report's target: a write or flush that fails raises
    WriteFailed, or ClosedPipe when the reader has gone."""

    def __init__(self, stream: IO[str], target: str) -> None:
        self._stream = stream
        self._target = target

    def _failed(self, error: OSError) -> Exception:
        if error.errno == errno.EPIPE:
            return ClosedPipe()
        return WriteFailed(self._target, _reason(error))

    def write(self, text: str) -> int:
        try:
            return self._stream.write(text)
        except OSError as error:
            raise self._failed(error) from None

    def flush(self) -> None:
        try:
            self._stream.flush()
        except OSError as error:
            raise self._failed(error) from None

    def __getattr__(self, name: str) -> Any:
        return getattr(self._stream, name)


def _umask() -> int:
    mask = os.umask(0o022)
    os.umask(mask)
    return mask


@contextmanager
def report_destination(output: Path | None, shown: str | None = None) -> Iterator[IO[str]]:
    """The stream a report is written to: stdout, or the file ``output``.

    A regular file (or one that does not exist yet) is written beside itself under a temporary
    name and renamed into place only once the report is complete, so an interrupted or failed run
    leaves the previous report as it was and nothing else behind; a symbolic link is followed to
    the file it names. Anything else (a device, a FIFO) is written in place.
    """
    if output is None:
        out = _Guarded(sys.stdout, "stdout")
        yield out  # type: ignore[misc]
        out.flush()
        return

    name = shown or str(output)
    target = os.path.realpath(output)
    try:
        status: os.stat_result | None = os.stat(target)
    except FileNotFoundError:
        status = None
    except OSError as error:
        raise WriteFailed(name, _reason(error)) from None
    if status is not None and stat.S_ISDIR(status.st_mode):
        raise WriteFailed(name, "is a directory")

    if status is not None and not stat.S_ISREG(status.st_mode):
        try:
            # newline="" so that CSV keeps its own CRLF record ends and JSON gets bare LF.
            device = open(target, "w", encoding="utf-8", newline="")
        except OSError as error:
            raise WriteFailed(name, _reason(error)) from None
        guarded = _Guarded(device, name)
        try:
            yield guarded  # type: ignore[misc]
            guarded.flush()
        finally:
            try:
                device.close()
            except OSError:
                pass
        return

    folder, base = os.path.split(target)
    # Held back until the cleanup below is in place: a signal that arrived between the temporary
    # file's creation and the `try` would leave it behind.
    mask = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM})
    try:
        handle, temporary = tempfile.mkstemp(prefix=f".{base}.", suffix=".tmp", dir=folder or ".")
    except OSError as error:
        signal.pthread_sigmask(signal.SIG_SETMASK, mask)
        raise WriteFailed(name, _reason(error)) from None
    stream: IO[str] | None = None
    try:
        # The report keeps the mode of the one it replaces; a new one gets the mode open() gives.
        os.fchmod(handle, stat.S_IMODE(status.st_mode) if status is not None else 0o666 & ~_umask())
        stream = open(handle, "w", encoding="utf-8", newline="")
        guarded = _Guarded(stream, name)
        signal.pthread_sigmask(signal.SIG_SETMASK, mask)
        yield guarded  # type: ignore[misc]
        guarded.flush()
        try:
            os.fsync(handle)
            stream.close()
            os.replace(temporary, target)
        except OSError as error:
            raise WriteFailed(name, _reason(error)) from None
    except BaseException:
        signal.pthread_sigmask(signal.SIG_SETMASK, mask)
        try:
            if stream is not None:
                stream.close()
            else:
                os.close(handle)
        except OSError:
            pass
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise


def _raise_terminated(_signum: int, _frame: FrameType | None) -> None:
    raise Terminated


def _quiet_stdout() -> None:
    # What is still buffered for stdout goes nowhere: flushed at exit it would fail again with a
    # message of its own (a closed pipe, a full disk), block on a reader that has stopped reading,
    # or, after an interrupted write, add rows past a torn line.
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, ValueError, AttributeError):
        pass


def _stop(message: str | None, status: int) -> None:
    if message is not None:
        try:
            print(f"tessera: {message}", file=sys.stderr, flush=True)
        except OSError:
            pass
    sys.exit(status)


@contextmanager
def exit_statuses() -> Iterator[None]:
    """Runs a command body, turning its ways of ending early into one line and an exit status:
    Ctrl-C 130, SIGTERM 143, a closed pipe 141 (silently), a report that could not be written 3.
    Never a traceback."""
    previous = signal.signal(signal.SIGTERM, _raise_terminated)
    try:
        yield
    except KeyboardInterrupt:
        _quiet_stdout()
        _stop("interrupted", INTERRUPTED)
    except Terminated:
        _quiet_stdout()
        _stop("terminated", TERMINATED)
    except (ClosedPipe, BrokenPipeError):
        _quiet_stdout()
        _stop(None, CLOSED_PIPE)
    except WriteFailed as failure:
        if failure.target == "stdout":
            _quiet_stdout()
        _stop(str(failure), WRITE_FAILED)
    finally:
        signal.signal(signal.SIGTERM, previous)
