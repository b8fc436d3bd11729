"""The set's shared literal scan: a pattern is tried only at starts near an occurrence of a literal
every match contains, so a wrongly chosen literal (optional, inside a lookaround, one alternative of
several), wrong offset bounds or a case-folding class that misses an equivalent would lose matches.
Each case is checked against `re` on text built from the pattern's own words, in every storage width."""

import re

import pytest

from hypothesis import given
from hypothesis import strategies as st
from test_generated_patterns import PATHS, kinds, on_path, patterns
from test_pattern_set import expected as every_match_expected

from agents.tessera import _matcher

FLAGS = re.IGNORECASE | re.MULTILINE

CASES = [
    r"\b(?:NVL)?X\s*\(",  # the keyword is optional: only `X` is required
    r"\b(?:NVL|DECODE|NVL2)\s*\(",  # one of several keywords
    r"\bTO_(?:CHAR|DATE)\b",
    r"(?<=DECODE)\(x",  # the keyword precedes the start
    r"(?<!NVL)\(x\)",
    r"(?!NVL)\w+\(x",  # a negative lookahead proves nothing
    r"\bSELECT\s+\*\s*EXCEPT\s*\(",  # keywords separated by space classes
    r"^\s*GO\b",  # unbounded distance from the start, at a line start
    r"(?:^|;)\s*SEL\s+",
    r"\w\s+STRING\s*(?:,|\)|$)",
    r"\bOPT\b[\s\S]{0,20}?\bZORDER\b",  # bounded but wide
    r"\bMASK\b|\bKEY\b",  # letters with equivalents beyond Latin-1: ſ ~ s, K ~ k
    r"\bfinal\b",  # ı ~ i
    r"::\w+",
    r"@@ROWCOUNT",
    r"\$\$",
    # Line-start patterns found by one rare character, looking back over the loop before it.
    r"^[ \t]*#(?:[ \t]|$)",
    r"^\s*/\s*$",
    r"^[ \t]*@@?\w+\.sql\b",
    r"--\s*COMMAND\s*-+",  # a dash ruler line must not hide the keyword
    # Alternatives without a literal of their own, found through one program per keyword.
    r"\b(?:DATETIME|TIME)_(?:ADD|SUB)\s*\(|\bDATE_DIFF\s*\(",
    r"\b(?:INS|DEL)\s+(?:INTO|FROM)\b|\bUPD\s+\w+\s+SET\b",
    # What must follow a keyword, past a loop the rest cannot start with, decides whether it is tried.
    r"\bFROM\s+DUAL\b",
    r"\bEND\s*(?:\$\$|//|;;)[ \t]*$",
    r"\bAS\s*$",
    r"[a-z ]{0,6}SET\s+X",  # a start an occurrence cannot serve may be served by a later one
    r"\bLONG\s*\(x",  # found past a long run of the loop's characters too
    # Rare characters alone, keyed with what may follow them (letters with equivalents beyond Latin-1,
    # digits of other scripts).
    r"(?<![\w@$#.])@[A-Za-z_]\w*",
    r"\$\d+\b",
    r"\[[A-Za-z_]\w*\s+[A-Za-z0-9_ ]*\]|\.\[[A-Za-z_]\w*\]",
    # Alternations inside groups (the common prefix factored out into a capturing group), of many
    # keywords, and small sets of characters.
    r"\b(STL|STV|SVL|SVV)_\w+",
    r"^\.(?:LOGON|LOGOFF|QUIT|IF|GOTO|LABEL|SET|RUN|EXPORT|IMPORT|OS|REMARK|SEVERITY|ERRORLEVEL|WIDTH|MAXERROR|EXIT"
    r"|COMPILE)\b|\bERRORCODE\b",
    r"\b(?:\d|x\d)(?:TIME|DATE)\b",  # spelled out twice: a digit has no pair with what follows
    r"\b[rRbB]['\"]|\"\"\"",
]

WORDS = [
    "NVL", "nvl2", "X", "DECODE", "to_char", "TO_DATE", "(", "(x", "(x)", "x", " ", "\n", ";", "*",
    "SELECT", "EXCEPT", "GO", "go", "SEL", "STRING", ",", ")", "OPT", "ZORDER", "MAſK", "\u212aEY",
    "mask", "key", "fınal", "FINAL", "::", "int", "@@", "ROWCOUNT", "$$", "$", "a", "\t", "é", "\u0100",
    "\U0001f600", "#", "/", "@", ".sql", "COMMAND", "--", "-", "\r",
    "DATETIME", "TIME", "_", "ADD", "SUB", "DATE_DIFF", "INS", "DEL", "INTO", "FROM", "UPD", "SET", "INSERT",
    "DUAL", "END", "//", ";;", "AS", "x", "@v", "@\u212a", "@\u017f", "@\u0130", "$1", "$\u0663", "[a", "]", ".[",
    "STL", "svv", "ST", "V", ".", "LOGON", "width", "ERRORCODE", "r", "B", "'", '"', '"""', "compile", "1",
    "x1", "\u0663", "DATE", "LONG", "(x",
]

# Small sets take the groups' passes unless told otherwise: these are made to take the literal scan.
CASE_SET = _matcher.compile_set([(p, FLAGS, False) for p in CASES], scan="literal")


def expected(entries, text):
    out = []
    for pattern, flags, _ in entries:
        m = re.compile(pattern, flags).search(text)
        out.append(m.span() if m else None)
    return out


@given(st.lists(st.sampled_from(WORDS), max_size=40), st.sampled_from(PATHS))
def test_required_literals_find_every_first_match(words, path):
    on_path(path, check_cases, "".join(words))


def check_cases(text):
    entries = [(p, FLAGS, False) for p in CASES]
    for variant in kinds(text):
        assert CASE_SET.spans(variant) == expected(entries, variant)


def test_case_folded_literals_accept_every_equivalent():
    entries = [(p, FLAGS, False) for p in CASES]
    examples = "DECODE(x NVL2 ( to_date SELECT * EXCEPT(a) x  STRING, ;  SEL a OPT b ZORDER ::int @@rowcount $$"
    for text in [examples, "x MAſK y", "the \u212aEY", "FıNAL", "fİnal", "a\nGO\n", "SELECT\u00a0*\u2003EXCEPT("]:
        for variant in kinds(text):
            assert CASE_SET.spans(variant) == expected(entries, variant)


def test_one_character_keys_at_the_ends_of_the_text():
    entries = [(p, FLAGS, False) for p in CASES]
    for text in ["#", "/", "x\n#", "x\n  /", "\t# y", "@f.sql", "a\n@@f.SQL", "-- COMMAND -", "--------COMMAND--"]:
        for path in PATHS:
            for variant in kinds(text):
                on_path(path, lambda v: _check(entries, v), variant)


def _check(entries, text):
    assert CASE_SET.spans(text) == expected(entries, text)


# The vector path looks keys up 32 positions at a time and leaves blocks with characters beyond ASCII
# to the exact lookups: a keyword must be found wherever it falls against the blocks, with or without
# such a character next to it.
def test_keys_at_every_offset_against_the_blocks():
    entries = [(p, FLAGS, False) for p in CASES]
    for word in ["@@ROWCOUNT", "to_char", "MAſK", "\u212aEY", "\n# x", "SELECT * EXCEPT(", "$$"]:
        for other in ["", "é", "\u0100"]:
            for at in range(0, 72, 3):
                text = "." * at + other + word + " " * (80 - at)
                for path in PATHS:
                    on_path(path, lambda v: _check(entries, v), text)


# The vector path turns a key away where an ASCII word character stands right before it, when every
# pattern keyed there needs a word to start at it; a key shared with a pattern that doesn't is looked up
# everywhere, and a character beyond ASCII before the key may start a word or not.
WORD_LED = [
    r"\bET[ \t]*;",  # two letters: keyed by the pair
    r"\bNVL\s*\(",  # keyed by its first three letters
    r"\bNVARCHAR\b",  # the same first two letters as NVL
    r"\bNUMBER\s*\(\s*\d+",  # keyed inside the word: the character before is three positions back
    r"SET\s+X",  # shares the letters of ET, with no word boundary
    r"(?<![\w@])@[A-Za-z_]\w*",
]
WORD_LED_SET = _matcher.compile_set([(p, FLAGS, False) for p in WORD_LED], scan="literal")


def _check_word_led(text):
    entries = [(p, FLAGS, False) for p in WORD_LED]
    for variant in kinds(text):
        assert WORD_LED_SET.spans(variant) == expected(entries, variant), variant


def test_keywords_after_every_kind_of_character_at_every_offset():
    for word in ["ET;", "nvl(", "NVARCHAR ", "number(1", "SET X", "@v"]:
        for before in ["", " ", "x", "_", "7", "é", "ſ", "\u212a", "\u0100", "@", "\n", "."]:
            for at in [*range(0, 12), *range(26, 38), 62, 63, 64, 65]:
                text = "." * at + before + word + " " * 40
                for path in PATHS:
                    on_path(path, _check_word_led, text)


# Keys of patterns that have matched leave the scan of a long text: those they share with patterns
# still looking (the pair of ET with SET, the first two letters of NVL with NVARCHAR) must stay.
def test_keys_shared_with_finished_patterns_stay_in_a_long_text():
    filler = "zz sets GETDATE nvx numbers " * 800
    for early, late in [("SET X NVL(", "NVARCHAR ET; number(2 @v"), ("ET; nvarchar @v", "nvl ( SET  x number (3")]:
        for text in [early + filler + late, filler + early + filler + late]:
            for path in PATHS:
                on_path(path, _check_word_led, text)


# The first match among allowed starts, against the loop it replaces: search, and while the match starts
# where it may not, search again from the next allowed position.
def retry_loop(pattern, flags, text, mask):
    compiled = re.compile(pattern, flags)
    allowed = [s for s in range(len(text) + 1) if s < len(mask) and mask[s]]
    m = compiled.search(text)
    while m is not None and m.start() not in allowed:
        later = [s for s in allowed if s > m.start()]
        m = compiled.search(text, later[0]) if later else None
    return m.span() if m else None


@given(st.lists(patterns(depth=1), min_size=1, max_size=6),
       st.text(st.sampled_from("ab \n_sſK\u212aı#(é"), max_size=30),
       st.data())
def test_first_allowed_match_equals_the_retry_loop(drawn, text, data):
    entries = []
    for src, flags in drawn:
        try:
            re.compile(src, flags)
        except re.error:
            continue
        entries.append((src, flags, False))
    if not entries:
        return
    compiled = _matcher.compile_set(entries, scan=data.draw(st.sampled_from(["literal", "groups"])))
    masks = [bytes(data.draw(st.lists(st.sampled_from([0, 1]), min_size=len(text) + 1, max_size=len(text) + 1)))
             for _ in entries]
    assert compiled.first_where(text, masks) == [retry_loop(p, f, text, m) for (p, f, _), m in zip(entries, masks)]


def test_first_allowed_match_of_the_cases_in_every_width():
    text = "NVL(x) -- DECODE(x) GO\n/* SELECT * EXCEPT( */ SELECT * EXCEPT(a) \u212aEY ::int"
    entries = [(p, FLAGS, False) for p in CASES]
    for variant in kinds(text):
        every_other = [bytes([s % 2 == 0 for s in range(len(variant) + 1)])] * len(entries)
        assert CASE_SET.first_where(variant, every_other) == [
            retry_loop(p, f, variant, m) for (p, f, _), m in zip(entries, every_other)
        ]


# A keyword that keeps occurring without a match makes a pattern look ahead for its other keywords
# (or some alternative's) and leave once none is left: the match after the long run, or one of an
# alternative whose keyword came only before it, must not be lost.
LOOKAHEAD = [
    r"\bCREATE\s+(?:OR\s+REPLACE\s+)?(?:PIPE|STAGE|FILE\s+FORMAT)\b",
    r"\bCREATE\s+(SET|MULTISET)\s+TABLE\b|\)\s*(NO\s+)?FALLBACK\b",
    r"\bCREATE\s+TABLE\b[\s\S]{0,20}?\bCLONE\b",
    r"\bCREATE\s+TABLE\s+\S+\s+CLONE\b",
    r"\bTABLE\s*\(\s*(?:PIPE|x)\b",
]


@pytest.mark.parametrize("scan", ["literal", "groups"])
def test_a_fruitless_keyword_run_does_not_hide_a_later_match(scan):
    entries = [(p, FLAGS, False) for p in LOOKAHEAD]
    compiled = _matcher.compile_set(entries, scan=scan)
    run = "CREATE TABLE (" * 1500
    for text in [run, "PIPE STAGE " + run, run + "CREATE OR REPLACE STAGE s", run + "CREATE MULTISET TABLE t",
                 run + "CREATE TABLE t CLONE u", "CLONE " + run + " ) FALLBACK", run + "TABLE (x)"]:
        for variant in kinds(text):
            assert compiled.spans(variant) == expected(entries, variant)


def test_the_scan_choice_is_checked():
    with pytest.raises(ValueError, match="unknown scan 'fast'"):
        _matcher.compile_set([("a", 0, False)], scan="fast")
    with pytest.raises(TypeError, match="'scan' must be str or None, not int"):
        _matcher.compile_set([("a", 0, False)], scan=1)
    assert _matcher.compile_set([("a", 0, False)], scan=None).spans("ba") == [(1, 2)]


def test_spelled_out_alternatives_find_the_leftmost_match():
    entries = [(p, FLAGS, False) for p in CASES]
    for text in ["DATETIME_ADD (x) TIME_SUB(", "time_sub( datetime_add(", "INSERT INTO t; ins  into t", "upd t set",
                 "DATE_DIFF( TIME_ADD(", "del\nfrom x INS INTO"]:
        for variant in kinds(text):
            assert CASE_SET.spans(variant) == expected(entries, variant)
            for scan in ("literal", "groups"):
                assert _matcher.compile_set(entries, scan=scan).spans(variant) == expected(entries, variant)


# A member's memo is set up at its first attempt of a call: calls that try other members in turn, on
# texts long and short, must each come out as `re` does.
def test_successive_calls_on_one_set():
    entries = [(p, FLAGS, False) for p in CASES]
    long_text = "x " * 3000 + "to_char @@rowcount \n# x\nDATETIME_ADD("
    for text in [long_text, "NVL(x", long_text + "\u0100", "", "go\nGO", long_text, "#"]:
        assert CASE_SET.spans(text) == expected(entries, text)


# An alternation inside a pattern is spelled out into one probe per alternative, each with a keyword of
# its own where the whole has none: the literal scan takes them all, a group's pass scans each as a
# member with its own start conditions (and its own look-ahead, taken only after fruitless tries).
SPELLED = r"\b(?:DATEDIFF|DATEADD|GETDATE|EOMONTH)\b"


def test_spelled_out_alternatives_are_members_of_either_path():
    assert _matcher.compile_set([(SPELLED, FLAGS, False)]).layout() == (False, [4])
    assert _matcher.compile_set([(SPELLED, FLAGS, False)], scan="literal").layout() == (True, [])
    # Found all the same (every match): no probes, and the literal scan does not take it.
    top = r"#\w+|@\w+\s+TABLE"
    assert _matcher.compile_set([(top, FLAGS, False), (SPELLED, FLAGS, True)]).layout() == (False, [3])


@pytest.mark.parametrize("scan", ["literal", "groups"])
def test_spelled_out_alternatives_find_the_first_match_either_way(scan):
    entries = [(SPELLED, FLAGS, False), (SPELLED, FLAGS, True), (r"\b(?:LEN|CHARINDEX)\s*\(", FLAGS, False)]
    compiled = _matcher.compile_set(entries, scan=scan)
    for text in ["x GETDATE() len (a) DATEADD", "eomonth(DATEDIFFX, EOMONTH)", "charindex(", "DATEDIF GETDATE_"]:
        for variant in kinds(text):
            assert compiled.spans(variant) == every_match_expected(entries, variant)


# An alternative leaves the scan once another alternative of its pattern has matched at a start that
# none of its own later starts can come before; one whose keyword lies far enough behind its start
# (ZQX, up to 14 characters on) must stay while it can still reach an earlier start.
SIBLINGS = [r"\bFROM\b|\b[a-c]{2}[a-z ]{0,12}ZQX", r"\bJOIN\s+#\w+|\bFROM\s+#\w+|\bINTO\s+#\w+"]


@pytest.mark.parametrize("scan", ["literal", "groups"])
def test_alternatives_leave_only_once_they_cannot_come_first(scan):
    entries = [(p, FLAGS, False) for p in SIBLINGS]
    compiled = _matcher.compile_set(entries, scan=scan)
    filler = "FROM #a JOIN x INTO y ZQX " * 200
    for text in ["ab FROM  ZQX", "x" * 20 + " ab FROM  ZQX" + filler, "FROM ab ZQX" + filler + "ab ZQX",
                 filler + "ab  FROM     ZQX", "JOIN x FROM #t" + filler + "INTO #u"]:
        for variant in kinds(text):
            assert compiled.spans(variant) == expected(entries, variant)
            for mask in ([1, 0], [0, 1], [0, 0, 0, 1]):
                masks = [bytes(mask[s % len(mask)] for s in range(len(variant) + 1))] * len(entries)
                assert compiled.first_where(variant, masks) == [
                    retry_loop(p, f, variant, m) for (p, f, _), m in zip(entries, masks)
                ]


# An occurrence followed by nothing the pattern allows there is not tried, and must not count as having
# tried the starts before it: a later occurrence may serve them. At the text's end, a rare character
# whose pattern needs something after it has nothing to be looked up with.
def test_occurrences_that_cannot_continue():
    entries = [(p, FLAGS, False) for p in CASES]
    for text in ["SET SET X", "ab SET\tSET  x", "from  dbo FROM\n dual", "END;; \nEND //x\nEND $$",
                 "SELECT a AS", "AS\n", "x @", "@", "$", "$1", "[a b]", "[a [a b]", ".[x]", "@\u212aey",
                 "$\u0663\u0664", "$\u0663x", "a@b @\u0131", "r'x' b\"y\" \"\"\"", ".logon\n.WIDTH 3", "stl_a svv_",
                 "long" + " " * 100 + "(x", "LONG" + "\t" * 63 + "(y long (x", "a\n.compile x1date 1TIME \u0663date"]:
        for variant in kinds(text):
            assert CASE_SET.spans(variant) == expected(entries, variant)


# The dialect tables are what the literal scan is for: none of their members needs a group's pass over
# the whole text of its own.
def test_the_dialect_tables_take_the_literal_scan_alone():
    from agents.tessera.dialect_detect import _LEXICON
    from agents.tessera.dialect_signatures import PLATFORM_MARKERS

    markers = [(m.pattern, FLAGS, False) for m in PLATFORM_MARKERS]
    assert _matcher.compile_set(markers).layout() == (True, [])
    assert _matcher.compile_set(markers + [(p, FLAGS, False) for _, _, p in _LEXICON]).layout() == (True, [])


# Each literal is keyed by the window of three characters real SQL has least often, anywhere in its
# run: in the middle, at its end, past the characters checked by class inline (the first sixteen), or
# over a character that stands for a set. An occurrence must be found whichever window keyed it,
# wherever it falls against the blocks and the text's ends, with every case equivalent in any place,
# and a near miss in any one character must not be taken for it.
RUN_CASES = [
    r"\bINDEXOPTIMIZE_FRAGMENTATIONLEVEL\b",  # longer than the inline checks
    r"\bDATE\dPART\s*\(",
    r"x[._]NAME\(",
    r"\bSKEWED_KEYS\b",  # s ~ ſ, k ~ K (Kelvin)
    r"\bISOLATION\s+LEVEL\b",  # i ~ İ, ı
    r"\bFAÇADE_ÿ\b",  # Latin-1 letters, one whose capital is beyond Latin-1
    r"@\w+\s+[\w.]+(?:\s*\([^)]*\))?\s+OUT(?:PUT)?\b",  # most starts fail in the opening loops
]
RUN_SET = _matcher.compile_set([(p, FLAGS, False) for p in RUN_CASES], scan="literal")
RUN_WORDS = ["IndexOptimize_FragmentationLevel", "DATE1PART(", "x.name(", "X_NAME(", "skewed_keys",
             "ISOLATION LEVEL", "façade_Ÿ", "FAÇADE_ÿ", "@p int OUTPUT", "@q dbo.t (x) OUT"]


def _near_misses(word):
    yield word
    for i, c in enumerate(word):
        for other in {"q", " ", {"s": "\u017f", "k": "\u212a", "i": "\u0130"}.get(c.lower(), c.swapcase())}:
            yield word[:i] + other + word[i + 1:]
    yield word.replace("s", "\u017f").replace("S", "\u017f").replace("k", "\u212a").replace("K", "\u212a")
    yield word.replace("i", "\u0131").replace("I", "\u0130")


def test_keys_anywhere_in_the_run_against_the_blocks_and_the_ends():
    entries = [(p, FLAGS, False) for p in RUN_CASES]
    for word in RUN_WORDS:
        for variant in _near_misses(word):
            for at in [0, 1, 29, 30, 31, 32, 33, 63]:
                for text in [" " * at + variant, "." * at + variant + " " * 40, variant * 2]:
                    for path in PATHS:
                        on_path(path, lambda v: [_check_run(entries, w) for w in kinds(v)], text)


def _check_run(entries, text):
    assert RUN_SET.spans(text) == expected(entries, text), text


# A keyword after a loop every match enters (`\s+`) is keyed together with the loop's last character
# (`␣of`), and a keyword's run may end in one character of such a loop (`as␣`): the blank is a class
# of its own in the key, so an occurrence must be found whatever blank stands there (several, a tab, a
# line break, U+00A0, U+2003), wherever it falls against the blocks and the text's ends.
GAP_CASES = [
    r"\bAS\s+OF\s+(TIMESTAMP|SCN)\b",
    r"\bTO\s+ROLE\b",
    r"\bGROUP\s+BY\s+ALL\b",
    r"\bSELECT\s+\*\s+EXCEPT\b",
    r"[a-z]+\s+KEY\s*=",  # the keyword (k ~ Kelvin sign) after an unbounded opening
    r"\bAS\s+OFFSET\b",
    # Found through the keys of its parts spelled out (`␣names`), rarer than the whole's (`set␣`).
    r"\bSET\s+(?:NAMES|SQL_MODE|FOREIGN_KEY_CHECKS)\b\s*=?",
]
GAP_SET = _matcher.compile_set([(p, FLAGS, False) for p in GAP_CASES], scan="literal")
GAP_WORDS = ["as of timestamp", "AS  OF\tSCN", "to\nrole", "Group By\u00a0All", "select *\u2003except",
             "x \u212aey =", "as\r\n offset", "as of scn", "set names", "SET\tsql_mode =", "set foreign_key_checks"]
BLANKS = [" ", "  ", "\t", "\n", " \n\t ", "\u00a0", "\u2003", "\u3000", ""]


def _check_gap(text):
    entries = [(p, FLAGS, False) for p in GAP_CASES]
    for variant in kinds(text):
        assert GAP_SET.spans(variant) == expected(entries, variant), variant


def test_keys_across_a_blank_gap():
    for word in GAP_WORDS:
        for blank in BLANKS:
            spaced = re.sub(r"\s+", blank, word)
            for variant in _near_misses(spaced):
                for at in [0, 1, 30, 31, 32, 33]:
                    for text in ["." * at + variant, " " * at + variant + "." * 40, variant + variant]:
                        on_path(PATHS[0], _check_gap, text)


# Once every member a key stands for has left the scan, the key is no longer looked up (in texts long
# enough to pay for it); a member that has no allowed start left leaves too. Members keyed alike
# (`qz`) must each be found all the same.
SHARED = [r"\bQZ\s*1\b", r"\bQZ\s*2\b", r"\bQZ\s*3\b", r"\bAS\s+OF\b", r"\bAS\s+OFFSET\b"]
SHARED_SET = _matcher.compile_set([(p, FLAGS, False) for p in SHARED], scan="literal")


def test_a_member_leaving_does_not_take_a_shared_key_from_another():
    entries = [(p, FLAGS, False) for p in SHARED]
    for filler in ["", "." * 40, "x " * 9000]:
        for text in ["qz1 " + filler + "QZ 2" + filler + "qz3", "qz2 qz1" + filler + "qz\t3" + filler,
                     "as of " + filler + "as\u00a0offset" + filler]:
            for variant in kinds(text):
                assert SHARED_SET.spans(variant) == expected(entries, variant), variant
    text = "qz1 qz2 " + "." * 17000 + " qz2 qz3 qz1 " + " " * 40
    # The first may start only in the first five positions: it leaves there, its key stays for the others.
    masks = [bytes([1] * 5 + [0] * (len(text) - 4))] + [bytes([0] * 6 + [1] * (len(text) - 5))] * (len(entries) - 1)
    assert SHARED_SET.first_where(text, masks) == [retry_loop(p, f, text, m) for (p, f, _), m in zip(entries, masks)]


@given(st.lists(st.sampled_from(["as", "of", "offset", "scn", "to", "role", "group", "by", "all", "select", "*",
                                 "except", "key", "=", "x", "\u212a", "\u017f", "\u0130", "set", "names",
                                 "sql_mode"]), max_size=12),
       st.lists(st.sampled_from(BLANKS), min_size=12, max_size=12))
def test_gap_keys_find_every_first_match(words, blanks):
    _check_gap("".join(w + b for w, b in zip(words, blanks)))


# A keyword far from the start (after an unbounded opening) is tried only when some start the filter
# allows can reach it, walking back over what the pattern's opening accepts. An occurrence no allowed
# start reaches must leave its starts to later occurrences, and a start that reaches only a later
# occurrence must still be the one found.
BACK_CASES = [
    r"@\w+\s+[\w.]+(?:\s*\([^)]*\))?\s+OUT(?:PUT)?\b",
    r"a[\s\S]*b\s+OUT\b",  # from `a`, only the second OUT can be reached
    r"(?<=x)y\w{0,40}\s+KEYWORD\b",
    r"\bz[^;]*\bSTOP\b",
]
BACK_SET = _matcher.compile_set([(p, FLAGS, False) for p in BACK_CASES], scan="literal")
BACK_TEXTS = [
    "a OUT" + "." * 40 + " b OUT", "a" + "x" * 20 + " OUT" + "." * 40 + " b OUT", "= @x OUTPUT, @p int OUTPUT", "@v nvarchar(max) = 1 @q dbo.t (x) OUT",
    "'@p int OUTPUT' @x = @y OUTPUT" + " " * 40 + "@z \u212ay OUT", "xy" + "q" * 30 + " keyword", "y" + "q" * 50 + " KEYWORD",
    "z a; STOP z" + " b" * 30 + " STOP", "zz\u2003stop", "a\u00e9b OUT b\u2003OUT",
]


def test_keywords_after_an_unbounded_opening():
    entries = [(p, FLAGS, False) for p in BACK_CASES]
    for text in BACK_TEXTS:
        for variant in kinds(text):
            assert BACK_SET.spans(variant) == expected(entries, variant), variant
            # Starts allowed only in some places: every other one, or none before the text's middle.
            for mask in [bytes([s % 2 for s in range(len(variant) + 1)]),
                         bytes([s >= len(variant) // 2 for s in range(len(variant) + 1)])]:
                masks = [mask] * len(entries)
                assert BACK_SET.first_where(variant, masks) == [
                    retry_loop(p, f, variant, m) for (p, f, _), m in zip(entries, masks)
                ], variant


def test_many_occurrences_no_start_reaches():
    # Every character an occurrence, none reachable: the walks' budget keeps the call short.
    text = "b OUT " * 100_000
    assert BACK_SET.spans(text) == expected([(p, FLAGS, False) for p in BACK_CASES], text)


# A loop before the end of a line (`/\s*$`): an occurrence is tried only when the loop's characters
# run into a newline or the text's end, in multiline mode or not (`$` before a last newline, `\Z`).
# A carriage return, a line separator or a character the loop does not take ends no line.
LINE_END_CASES = [(r"^\s*/\s*$", FLAGS), (r"\bGO[ \t]*$", FLAGS), (r"\bEND\s*;\s*$", re.IGNORECASE),
                  (r"\bEXIT\s*\Z", FLAGS), (r"\bQUIT$", FLAGS), (r"@@\w*\s*$", FLAGS)]
LINE_END_SET = _matcher.compile_set([(p, f, False) for p, f in LINE_END_CASES], scan="literal")
LINE_END_TEXTS = ["/* x */\n/", "a /\n", "  /  ", "/ *\n/\t\n", "x\n /\r\n/", "/\u2028", "/\u00a0\u2003\n",
                  "go x\ngo", "GO \t\r\nGO\t", "end; x\nEND ;\n", "END;\n\n", "end;\u2029", "exit \n", "EXIT\n\n exit ",
                  "QUIT x quit", "@@a b @@\u212a\n", "/" + " " * 70 + "\n", "/" + " " * 70 + "x /\n"]


def test_occurrences_before_a_line_end():
    entries = [(p, f, False) for p, f in LINE_END_CASES]
    for text in LINE_END_TEXTS:
        for at in [0, 31]:
            for variant in kinds("." * at + text):
                assert LINE_END_SET.spans(variant) == expected(entries, variant), variant


# A run's window of three characters is looked up by a hash: text made of windows that share its hash
# (`aah` and `egs`, `abn` and `ehy`) must neither be taken for it nor hide it.
def test_windows_that_share_a_hashed_key():
    cases = [r"\begs\b", r"\behy\d", r"x\.aad\("]
    entries = [(p, FLAGS, False) for p in cases]
    keyed = _matcher.compile_set(entries, scan="literal")
    for text in ["aah abn aae ego " * 3, "aah " * 20 + "egs ehy1", "ego x.ego( x.aad(", "EHY2 abn9 \u212a egs"]:
        for variant in kinds(text):
            assert keyed.spans(variant) == expected(entries, variant), variant


# What must stand right before a run that no match starts at (`%` or `W` before `TYPE` here) turns an
# occurrence away unread; where a match may start at the run itself (a lookbehind, an optional
# opening) nothing before it is required, and a character beyond Latin-1 is left to the attempt.
PRIOR_CASES = [r"\w%(?:ROW)?TYPE\b", r"\b(?:USER|ALL|DBA)_OBJECTS\b", r"\w\s+STRING\b", r"(?<=a)ZTYPE",
               r"q{0,2}QTYPE", r"[^x]XTYPE", r"\d\.?KTYPE"]
PRIOR_SET = _matcher.compile_set([(p, FLAGS, False) for p in PRIOR_CASES], scan="literal")


def test_what_must_stand_before_a_run():
    entries = [(p, FLAGS, False) for p in PRIOR_CASES]
    for text in ["TYPE %TYPE a%TYPE x%ROWTYPE", " %type é%TYPE", "\u0100%TYPE", "\u212a%ROWTYPE",
                 "_OBJECTS all_objects", "sys.dba_objects", "a STRING", "\u0663\u2003string", "a\tSTRING",
                 "ZTYPE aZTYPE", "QTYPE qqqQTYPE", "XTYPE xXTYPE \u0100XTYPE", "KTYPE 1.KTYPE \u0663\u212aTYPE",
                 "1\u212atype"]:
        for at in [0, 1, 31]:
            for variant in kinds("." * at + text):
                assert PRIOR_SET.spans(variant) == expected(entries, variant), variant
