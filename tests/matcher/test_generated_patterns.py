"""The native matcher against `re` on generated patterns and generated text, on all three string kinds.

Patterns are built from every construct the engine accepts (literals, classes and ranges, the category
escapes and their negations, `.`, anchors with and without MULTILINE, `\\b \\B`, alternation, the group
kinds, greedy and lazy `? * + {m} {m,} {m,n}`, lookarounds of the supported shapes) under every
combination of IGNORECASE, MULTILINE and DOTALL; texts are drawn from an alphabet holding the
characters `re` treats specially under IGNORECASE (ſ ı İ K µ ς and their partners), Unicode digits and
spaces, line breaks, and the pattern's own literals. HYPOTHESIS_PROFILE=thorough runs the long hunt;
with -s it prints how many patterns and texts it compared."""

import re

import pytest
from hypothesis import assume, given
from hypothesis import strategies as st

from agents.tessera import _matcher

INF = float("inf")
# Letters with extra IGNORECASE equivalents, their plain partners, and characters of each class.
HARD = "sSſkK\u212aiIıİµμΜςσΣ"
LITERALS = "ab" + HARD + "é0٣_-#( \t\xa0\u2003\x1c"
TEXT_EXTRA = "ab \n\r\n\u2028xyz9_.é\u0100\U0001f600"
CATEGORIES = [r"\w", r"\s", r"\d", r"\W", r"\S", r"\D"]
CLASS_ITEMS = ["a", "b", "s", "K", "ſ", "ı", "İ", "\u212a", "µ", "ς", "0", "_", " ", r"\]", r"\-", r"\^", "a-f",
               "A-Z", "0-9", "ı-ſ", "\u0100-\u024f", "\u0370-\u03ff", r"\n"] + CATEGORIES
ANCHORS = ["^", "$", r"\A", r"\Z", r"\b", r"\B"]

stats = {"patterns": 0, "texts": 0, "too large": 0}


def literal(c):
    return re.escape(c) if c not in "\t\xa0\u2003\x1c" else c


class Gen:
    """Draws a pattern as (source, nullable, least width, greatest width)."""

    def __init__(self, draw):
        self.draw = draw
        self.groups = 0

    def char(self):
        d = self.draw
        kind = d(st.sampled_from(["lit", "lit", "lit", "cat", "dot", "class", "hex"]))
        if kind == "lit":
            return literal(d(st.sampled_from(LITERALS)))
        if kind == "cat":
            return d(st.sampled_from(CATEGORIES))
        if kind == "dot":
            return "."
        if kind == "hex":
            return d(st.sampled_from([r"\x41", r"\u0130", r"\u017f", r"\x0a", r"\U0001f600"]))
        items = d(st.lists(st.sampled_from(CLASS_ITEMS), min_size=1, max_size=4))
        return "[" + ("^" if d(st.booleans()) else "") + "".join(items) + "]"

    def quantify(self, atom, lo, hi, mode):
        """mode: 'any' (every quantifier), 'bounded' (finite), 'fixed' (exact counts only)."""
        d = self.draw
        if mode == "fixed":
            choices = ["{m}"]
        elif mode == "bounded":
            choices = ["?", "{m}", "{m,n}", "{m,n}"]
        else:
            choices = ["?", "*", "+", "{m}", "{m,}", "{m,n}", "{m,n}"]
        q = d(st.sampled_from(choices))
        m = d(st.integers(0, 3))
        n = m + d(st.sampled_from([0, 1, 2, 5, 40]))
        text, qlo, qhi = {"?": ("?", 0, 1), "*": ("*", 0, INF), "+": ("+", 1, INF), "{m}": (f"{{{m}}}", m, m),
                          "{m,}": (f"{{{m},}}", m, INF), "{m,n}": (f"{{{m},{n}}}", m, n)}[q]
        lazy = d(st.booleans()) and mode != "fixed"
        return atom + text + ("?" if lazy else ""), qlo == 0, lo * qlo, hi * qhi if qhi else 0

    def item(self, depth, mode, looks):
        d = self.draw
        kinds = ["char", "char", "char", "anchor"]
        if depth > 0:
            kinds += ["group", "group"]
            if looks:
                kinds += ["look"]
        kind = d(st.sampled_from(kinds))
        if kind == "anchor":
            return d(st.sampled_from(ANCHORS)), True, 0, 0
        if kind == "look":
            return self.look(depth - 1)
        if kind == "char":
            src, nullable, lo, hi = self.char(), False, 1, 1
        else:
            body, nullable, lo, hi = self.alternation(depth - 1, mode, looks)
            opener = d(st.sampled_from(["(", "(?:", "(?P<"]))
            if opener == "(?P<":
                self.groups += 1
                opener = f"(?P<g{self.groups}>"
            src = opener + body + ")"
        if not nullable and d(st.integers(0, 2)) == 0:
            return self.quantify(src, lo, hi, mode)
        return src, nullable, lo, hi

    def sequence(self, depth, mode, looks):
        parts = [self.item(depth, mode, looks) for _ in range(self.draw(st.integers(0 if mode == "any" else 1, 4)))]
        return ("".join(p[0] for p in parts), all(p[1] for p in parts), sum(p[2] for p in parts),
                sum(p[3] for p in parts))

    def alternation(self, depth, mode, looks):
        if mode == "fixed":
            # Alternatives of one width: single characters.
            alts = [self.char() for _ in range(self.draw(st.integers(1, 3)))]
            return "|".join(alts), False, 1, 1
        alts = [self.sequence(depth, mode, looks) for _ in range(self.draw(st.integers(1, 3)))]
        return ("|".join(a[0] for a in alts), any(a[1] for a in alts), min(a[2] for a in alts),
                max(a[3] for a in alts))

    def look(self, depth):
        d = self.draw
        kind = d(st.sampled_from(["?=", "?!", "?<=", "?<!"]))
        if kind.startswith("?<"):
            body = self.sequence(depth, "fixed", False)[0]
        else:
            body = self.sequence(depth, "bounded", False)[0]
            if d(st.booleans()):
                body = self.char() + d(st.sampled_from(["*", "+", "*?", "{2,}"])) + body
        return "(" + kind + body + ")", True, 0, 0


@st.composite
def patterns(draw, depth=3):
    gen = Gen(draw)
    src = gen.alternation(depth, "any", True)[0]
    flags = draw(st.sampled_from([0, re.I, re.M, re.S, re.I | re.M, re.I | re.S, re.M | re.S, re.I | re.M | re.S]))
    return src, flags


@st.composite
def cases(draw):
    src, flags = draw(patterns())
    try:
        compiled = re.compile(src, flags)
    except re.error:
        assume(False)
    own = [c for c in src if c not in "\\()[]{}?*+|^$.:<>=!"]
    alphabet = st.sampled_from(LITERALS + TEXT_EXTRA + "".join(own))
    texts = draw(st.lists(st.text(alphabet, max_size=24), min_size=1, max_size=4))
    return src, flags, compiled, texts


def kinds(text):
    """The text in each storage width it can take: one byte, two and four per character."""
    narrow = "".join(c if ord(c) < 256 else "z" for c in text)
    return [narrow, text + "\u0100", text + "\U0001f600", "\U0001f600" + narrow]


def compare(src, flags, compiled, texts):
    try:
        native = _matcher.compile(src, flags)
    except ValueError as error:
        # Counted repeats nested inside counted repeats can expand past the program size the engine
        # bounds its cost by; it refuses them by name, which is not a wrong answer. Anything else is.
        if str(error) != "pattern too large":
            raise
        stats["too large"] += 1
        assume(False)
    stats["patterns"] += 1
    for base in texts:
        for text in kinds(base):
            stats["texts"] += 1
            for pos in (0, 1, len(text) // 2, len(text)):
                m = compiled.search(text, pos)
                assert native.search(text, pos) == (m.span() if m else None), (src, flags, text, pos)
            assert native.findall_spans(text) == [m.span() for m in compiled.finditer(text)], (src, flags, text)
            assert native.sub(text) == compiled.sub("", text), (src, flags, text)


@pytest.fixture(scope="module", autouse=True)
def report_counts():
    yield
    print(f"\ngenerated-pattern differential: {stats['patterns']} patterns, {stats['texts']} texts, 0 differences"
          f" ({stats['too large']} refused as too large)")


# Each example runs on one of the instruction-set paths this CPU has, so every path gets its share.
PATHS = _matcher.available_isas()


def on_path(path, check, *args):
    _matcher.force_isa(path)
    try:
        check(*args)
    finally:
        _matcher.force_isa(None)


@given(cases(), st.sampled_from(PATHS))
def test_generated_patterns_agree_with_re(case, path):
    on_path(path, compare, *case)


@given(st.data())
def test_case_folding_letters_agree_with_re(data):
    # The letters whose IGNORECASE equivalents `re` takes from its own table, alone and in classes.
    c = data.draw(st.sampled_from(HARD))
    src = data.draw(st.sampled_from([re.escape(c), f"[{c}]", f"[^{c}]", f"[{c}x]", f"{re.escape(c)}+"]))
    texts = data.draw(st.lists(st.text(st.sampled_from(HARD + "x\n"), max_size=8), min_size=1, max_size=3))
    compare(src, re.I, re.compile(src, re.I), texts)
