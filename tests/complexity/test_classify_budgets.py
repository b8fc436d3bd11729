"""Turn budgets: the worked values, and records built by hand with values a classification never makes."""

from decimal import Decimal
from fractions import Fraction

import pytest

import oracle
from agents.tessera.complexity import ComplexityResult, SQLComplexity, classify_sql


def record(effective_lines=0, complex_construct_count=0, stored_proc_count=0):
    return ComplexityResult(
        complexity=SQLComplexity.SIMPLE,
        effective_lines=effective_lines,
        stored_proc_count=stored_proc_count,
        complex_construct_count=complex_construct_count,
        moderate_construct_count=0,
        temp_table_count=0,
        cte_count=0,
    )


def budgets(r):
    return r.recommended_analysis_turns, r.recommended_conversion_turns, r.recommended_audit_turns


@pytest.mark.parametrize(
    "lines, constructs, procs, expected",
    [
        (0, 0, 0, (3, 9, 3)),
        (299, 0, 0, (3, 13, 3)),
        (300, 0, 0, (4, 15, 3)),
        (600, 0, 0, (5, 21, 3)),
        (900, 0, 0, (6, 27, 3)),
        (5000, 0, 0, (6, 40, 3)),
        (99, 0, 0, (3, 9, 3)),
        (100, 0, 0, (3, 11, 3)),
        (150, 0, 0, (3, 11, 3)),  # divide first, then double
        (250, 0, 0, (3, 13, 3)),
        (0, 1, 0, (4, 11, 3)),
        (0, 5, 0, (5, 19, 3)),
        (0, 0, 1, (3, 12, 3)),
        (0, 0, 7, (3, 12, 3)),
        (1200, 3, 2, (8, 40, 3)),  # 42 capped
        (1000, 0, 0, (6, 29, 3)),
        (1599, 0, 0, (6, 39, 3)),
        (1600, 0, 0, (6, 40, 3)),
    ],
)
def test_worked_budgets(lines, constructs, procs, expected):
    r = record(lines, constructs, procs)
    assert budgets(r) == expected == oracle.budgets(lines, constructs, procs)
    assert budgets(r) == expected and r == record(lines, constructs, procs)  # reading changes nothing


def test_budgets_of_a_classified_script():
    r = classify_sql("CREATE PROC p AS\n" + "MERGE t USING s ON 1=1;\n" * 450)
    assert (r.effective_lines, r.complex_construct_count, r.stored_proc_count) == (451, 1, 1)
    assert budgets(r) == (5, 22, 3)


@pytest.mark.parametrize(
    "lines, constructs, procs, expected",
    [
        (-1, 0, 0, (2, 7, 3)),  # -1 // 300 == -1, -1 // 100 == -1
        (0, -5, -1, (-2, -1, 3)),
        (-10**30, 0, 0, (-3333333333333333333333333331, -2 * 10**28 + 9, 3)),
        (10**30, 10**30, 1, (8, 40, 3)),
        (True, True, True, (4, 14, 3)),
    ],
)
def test_integer_arithmetic_beyond_classified_values(lines, constructs, procs, expected):
    assert budgets(record(lines, constructs, procs)) == expected
    assert all(type(v) is int for v in budgets(record(lines, constructs, procs)))


@pytest.mark.parametrize(
    "lines, constructs, procs, expected",
    [
        (450.0, 0, 0, (4, 17, 3)),
        (0, 1.5, 0, (4, 12, 3)),  # 4.5 and 12.0 truncate
        (0, -3.5, 0, (0, 2, 3)),  # -0.5 truncates toward zero
        (-0.5, 0, 0.5, (2, 10, 3)),
        (Decimal("750.9"), 0, 0, (5, 23, 3)),
        (Fraction(901, 2), Fraction(3, 2), 0, (5, 20, 3)),
    ],
)
def test_non_integer_numbers_are_truncated(lines, constructs, procs, expected):
    values = budgets(record(lines, constructs, procs))
    assert values == expected and all(type(v) is int for v in values)


class Opaque:
    """Absorbs every operation and compares as neither smaller nor larger."""

    def __floordiv__(self, other):
        return self

    __add__ = __radd__ = __mul__ = __rmul__ = __floordiv__

    def __lt__(self, other):
        return False

    __gt__ = __lt__


def test_non_number_results_are_refused():
    r = record(Opaque(), Opaque(), Opaque())
    with pytest.raises(TypeError) as raised:
        r.recommended_analysis_turns
    assert str(raised.value) == "Expected int, got Opaque"
    with pytest.raises(TypeError, match="^Expected int, got Opaque$"):
        r.recommended_conversion_turns
    assert r.recommended_audit_turns == 3


@pytest.mark.parametrize(
    "field, value, analysis_error, conversion_error",
    [
        ("effective_lines", "300", "unsupported operand type(s) for //: 'str' and 'int'", None),
        ("complex_construct_count", "ab", "'<' not supported between instances of 'int' and 'str'",
         "unsupported operand type(s) for +: 'int' and 'str'"),
        ("stored_proc_count", "1", None, "'>' not supported between instances of 'str' and 'int'"),
        ("effective_lines", None, "unsupported operand type(s) for //: 'NoneType' and 'int'", None),
    ],
)  # fmt: skip
def test_fields_without_the_arithmetic_raise_the_operation_error(field, value, analysis_error, conversion_error):
    r = record(**{field: value})
    for name, message in [("recommended_analysis_turns", analysis_error), ("recommended_conversion_turns",
                                                                          conversion_error or analysis_error)]:
        if message is None:
            getattr(r, name)
            continue
        with pytest.raises(TypeError) as raised:
            getattr(r, name)
        assert str(raised.value) == message
    assert r.recommended_audit_turns == 3
