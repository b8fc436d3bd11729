"""SQL estates and query logs assessed on Spark: the ``tessera assess`` rows as DataFrame columns,
computed by the native modules over whole Arrow record batches.

Columns added by :func:`assess_texts` and :func:`assess_files`, named and typed as the keys of a
``tessera assess --format jsonl`` file row:

============================  ==============  =====================================================
column                        type            meaning
============================  ==============  =====================================================
``bytes``                     bigint          size of the text in UTF-8 (of the file, for files)
``empty``                     boolean         the text is empty
``total_lines``               bigint          lines, as the reading plan counts them
``effective_lines``           bigint          non-blank lines once comments are removed
``grade``                     string          ``simple``, ``moderate`` or ``complex``
``stored_proc_count``         bigint          stored procedures
``complex_construct_count``   bigint          kinds of complex construct found
``moderate_construct_count``  bigint          kinds of moderate construct found
``temp_table_count``          bigint          temp-table references
``cte_count``                 bigint          common table expressions
``analysis_turns``            bigint          agent-turn budget for analysis
``conversion_turns``          bigint          agent-turn budget for conversion
``audit_turns``               bigint          agent-turn budget for audit
``chunked``                   boolean         the text is to be read in parts
``sections``                  bigint          sections of the reading plan
``categories``                array<string>   construct categories, sorted
``error``                     string          why the row could not be assessed, else null
============================  ==============  =====================================================

A row with an ``error`` has every other assessment column null; a null text gives the error
``null``.

With ``objects=True`` both also add ``objects``, an ``array<struct<...>>`` holding the objects the
text defines (procedures, functions, views, tables...) in the text's order, each graded on its own
lines: the keys of a ``tessera assess --objects --format jsonl`` object row, ``row`` and ``path``
left out (the row is the text's own). Null where the row has an ``error``; empty where the text
defines none. :func:`summarize` of such rows adds the command's ``objects`` block.

============================  ==============  =====================================================
field                         type            meaning
============================  ==============  =====================================================
``kind``                      string          ``procedure``, ``function``, ``view``, ``table``...
``name``                      string          the name, brackets and quotes removed
``raw_name``                  string          the name as written
``statement``                 string          ``create``, ``create_or_alter``,
                                              ``create_or_replace`` or ``alter``
``first_line``                bigint          first line of the object (from 1)
``last_line``                 bigint          last line of the object
``lines``                     bigint          lines of the object
``grade``                     string          the object's grade
``effective_lines``           bigint          ... and the counts and turn budgets, as for the text
``stored_proc_count``         bigint
``complex_construct_count``   bigint
``moderate_construct_count``  bigint
``temp_table_count``          bigint
``cte_count``                 bigint
``analysis_turns``            bigint
``conversion_turns``          bigint
``audit_turns``               bigint
============================  ==============  =====================================================
"""

from __future__ import annotations

from ._api import (
    ASSESSMENT_COLUMNS,
    assess_files,
    assess_texts,
    default_globs,
    session,
    summarize,
)

__all__ = [
    "ASSESSMENT_COLUMNS",
    "assess_files",
    "assess_texts",
    "default_globs",
    "session",
    "summarize",
]
