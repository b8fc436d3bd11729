"""Report rows of whole estates, worked out on native threads (private to the tessera command and
the Spark path; the contract below is what they may rely on).

Every script is handled as the command handles a file: its bytes are checked as strict UTF-8 (a bad
byte makes the row fail with ``not valid UTF-8 (byte 0xe9 at offset 11)``, the offset counted in
the bytes as given), line ends are translated as universal newlines do (``\\r\\n`` and a lone
``\\r`` become ``\\n``) and a byte-order mark is kept as U+FEFF, as ``open(path, encoding="utf-8")``
keeps it. The grade, counts, turn budgets, reading plan and categories are then those of
``classify_sql``, ``plan_reading_strategy`` and ``detect_construct_categories`` for that text, and
the dialect is ``str(detect_dialect(text).platform)``, or ``"undecided"`` when it names none, worked
out by ``agents.tessera.dialect_detect``'s own scan. When that module cannot be loaded, or exports no
detector this module can use, the ``dialect`` column is left out of COLUMNS and of the rows.

The work runs on worker threads that never take the GIL; the GIL is only held to turn a finished
row into Python objects. Ctrl-C (or any signal handler that raises) ends a wait within about 50 ms
with the handler's exception; the workers then finish the script each is on and stop.
"""

from collections.abc import Buffer, Iterable, Iterator
from typing import Final, Literal

# The names of a row's entries, in order. A row of assess_paths is a tuple in this order; the
# columns of assess_buffers are these names but the first. Columns will be added (the objects a
# script defines), and the dialect may be missing, so read rows by name (dict(zip(COLUMNS, row))),
# not by position.
COLUMNS: Final[tuple[str, ...]]

type Grade = Literal["simple", "moderate", "complex"]

# (path, bytes, empty, total_lines, effective_lines, grade, stored_proc_count,
#  complex_construct_count, moderate_construct_count, temp_table_count, cte_count,
#  analysis_turns, conversion_turns, audit_turns, chunked, sections, categories, dialect, error)
#
# A failed row has None everywhere but the key (first) and the error (last). categories is a
# tuple of category names in alphabetical order. The first entry is the key the caller gave.
type Row = tuple[object, ...]

class Rows(Iterator[Row]):
    """The rows of assess_paths, one per item and in the items' order, whatever order the workers
    finish in. At most a window of items (a few dozen per worker, 4,096 at most) is taken from the
    items ahead of the row asked for, so memory follows the work in flight, not the estate."""

    @property
    def workers(self) -> int:
        """Worker threads of this batch; 0 when the rows are worked out on the calling thread."""

    def close(self) -> None:
        """Stop early: each worker finishes the script it is on; the items not started are dropped
        and the iterator is exhausted. Dropping the last reference does the same."""

    def __next__(self) -> Row: ...

def assess_paths(items: Iterable[tuple[object, bytes | str]], *, jobs: int = 1) -> Rows:
    """The report rows of the files named by ``items``, in order.

    Each item is a ``(key, source)`` pair. ``source`` is a file-system path as bytes
    (``os.fsencode(path)``): the file is opened without blocking and read whole; a file that is
    missing, a directory, not a regular file or unreadable gives a failed row whose error is the
    system's reason with its first letter lowered (``no such file or directory``, ``is a
    directory``, ``not a regular file``, ``permission denied``). A ``str`` source is a reason known
    already: the row fails with it, without any file being touched. ``key`` is any object and comes
    back unchanged as the row's first entry (the command passes the path as reports show it).

    ``jobs`` is how many scripts are worked on at once: 1 works on the calling thread, one script
    per row asked for; more starts ``workers_for(jobs)`` threads. Items are taken from the iterable
    on the calling thread, as rows are asked for; an exception from it (or a malformed item) is
    raised by the ``next()`` that would have given that item's row, once the rows before it are
    out, and ends the iteration.
    """

def assess_buffers(
    data: Buffer,
    offsets: Buffer,
    validity: Buffer | None = None,
    *,
    offsets_64: bool = False,
    offset: int = 0,
    length: int | None = None,
    jobs: int = 1,
) -> dict[str, list[object]]:
    """The report columns of the scripts held by an Arrow binary or string array, read in place.

    ``data`` is the array's value buffer, ``offsets`` its offsets buffer (native-endian int32, or
    int64 with ``offsets_64=True`` for large_binary/large_string), ``validity`` its validity
    bitmap (bit i of byte i // 8, least significant first; 1 = present) or None when every entry
    is present. ``offset`` and ``length`` are the array's own offset and length (slices share their
    parent's buffers); ``length`` defaults to every entry the offsets describe past ``offset``.
    The buffers are held, not copied, for the length of the call, which runs with the GIL
    released.

    Returns one list per column of COLUMNS but the first ("path"), each ``length`` long, in the
    entries' order. ``bytes`` is the entry's size. A null entry fails with the error ``"null"``; an
    entry that is not UTF-8 fails as a file would. ``categories`` is a list of names.

    Raises TypeError for a buffer that is not contiguous, and ValueError when the offsets are not a
    whole number of offsets, are too few for ``offset`` and ``length``, decrease, or point outside
    ``data``, or when the bitmap is too short; then no entry has been looked at.
    """

def workers_for(jobs: int, /) -> int:
    """The worker threads a batch asked for ``jobs`` runs (for jobs > 1): at most four per core
    this process may run on, since more add only memory and switching."""
