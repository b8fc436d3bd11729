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
