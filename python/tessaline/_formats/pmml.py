"""PMML 4.4 documents that score a fitted binning or scorecard in any
conforming evaluator (a Java decision engine, say), giving what `transform`,
`Scorecard.score` and `Scorecard.reason_codes` give, bit for bit.

Each column's rows are resolved in the order `transform` resolves them: a
missing value (NaN included: it is declared a missing value of each
numeric field, and of a categorical one where the text "NaN", which
`transform` takes for a category, scores as a missing value anyway; so a
missing category is to reach the evaluator as missing, not as NaN) goes to
the missing-value row, each special value to its row, then the intervals
closed on the right (``x <= t1``, ..., the last one open above, so +inf
falls there and -inf in the first). A categorical column matches the
category names of each bin; a pooled category and one not seen in training
go where `transform` sends them (the pooled group's bin, else the
missing-value row). Categories are compared as text, as their names (a
carriage return in a name is written as a character reference, which no
reader turns into a line feed); a column whose categories are True and
False is read as a boolean (so the text "true", which `transform` would
take for an unseen category, is True).

Floats are written as the shortest decimal that reads back as the same
double (``repr``): a conforming reader parses decimals correctly rounded.

A scorecard's score is ``initialScore`` plus the partial scores, added one
by one in the order of the characteristics, which are the card's
`variables`. The initial score is -0.0, which adding leaves every double
unchanged (even -0.0), and each attribute's partial score holds the
variable's full points (its share of the intercept and offset included),
so the sum is `Scorecard.score`'s own. The score is the model's target
(its predicted value), not an output field copying it, which an evaluator
may turn from -0.0 into 0.0. Reason codes rank by the points lost against
each variable's best points ("pointsBelow" a baseline of the variable's
highest points), as `reason_codes` does, but for one case: an evaluator
names no variable whose points exceed its highest row's (a missing value
or unseen category scored with WoE 0 in a table without a missing-value
row, when 0 lies outside its rows' WoE), where `reason_codes` names it
last.
"""

from __future__ import annotations

import functools
import math
import re
import xml.etree.ElementTree as ET
from collections.abc import Callable, Mapping, Sequence
from typing import Any

import numpy as np

from .._core.placement import MISSING_SLOT, CategoryBins, category_bins, number_rules
from .._core.protocols import BinnedColumn, BinnedTable, FloatArray, PointsModel
from .._version import __version__

NAMESPACE = "http://www.dmg.org/PMML-4_4"
# Text that XML 1.0 cannot hold, even escaped (lone surrogates included).
_NOT_XML = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f\ud800-\udfff\ufffe\uffff]")


def number(value: float) -> str:
    """A double as the text a conforming reader parses back to it exactly."""
    value = float(value)
    if math.isnan(value):
        return "NaN"
    if math.isinf(value):
        return "INF" if value > 0 else "-INF"
    return repr(value)


def _text(value: str, what: str) -> str:
    if _NOT_XML.search(value):
        raise ValueError(f"{what} {value!r} holds a character that XML cannot carry")
    return value


def _element(parent: ET.Element, tag: str, **attributes: str) -> ET.Element:
    return ET.SubElement(parent, tag, attributes)


def _predicate(parent: ET.Element, field: str, operator: str, value: float | None = None) -> None:
    if value is None:
        _element(parent, "SimplePredicate", field=field, operator=operator)
    else:
        _element(parent, "SimplePredicate", field=field, operator=operator, value=number(value))


def _is_member(parent: ET.Element, field: str, members: Sequence[str]) -> None:
    """The predicate of a value being one of the category names `members`."""
    if len(members) == 1:
        _element(
            parent,
            "SimplePredicate",
            field=field,
            operator="equal",
            value=_text(members[0], "the category"),
        )
        return
    either = _element(parent, "CompoundPredicate", booleanOperator="or")
    for member in members:
        _element(
            either,
            "SimplePredicate",
            field=field,
            operator="equal",
            value=_text(member, "the category"),
        )


def _category_bins(table: BinnedColumn) -> CategoryBins:
    assert table.bin_categories is not None
    return category_bins(table.bin_categories, table.pooled_categories, table.pooled_bin)


def _attributes(
    parent: ET.Element, table: BinnedColumn, field: str, values: Sequence[str], missing: str
) -> None:
    """One Attribute per rule of `table`, in the order `transform` applies
    them, scoring `values[slot]` (one per interval or bin of categories, then
    one per special value) and `missing` for a missing or unmatched value."""

    def attribute(points: str) -> ET.Element:
        return _element(parent, "Attribute", partialScore=points)

    if table.bin_categories is not None:
        _predicate(attribute(missing), field, "isMissing")
        bins = _category_bins(table)
        for b, members in bins.members:
            _is_member(attribute(values[b]), field, members)
        _element(attribute(values[bins.other] if bins.other != MISSING_SLOT else missing), "True")
        return
    first_special = len(values) - len(table.special_values)
    operators = {"missing": "isMissing", "equal": "equal", "at_most": "lessOrEqual"}
    for rule in number_rules(table.splits, table.special_values, first_special):
        scored = attribute(missing if rule.slot == MISSING_SLOT else values[rule.slot])
        if rule.test == "else":
            _element(scored, "True")
        else:
            equal_or_at_most = None if rule.test == "missing" else rule.value
            _predicate(scored, field, operators[rule.test], equal_or_at_most)


def _discretize(parent: ET.Element, table: BinnedColumn, field: str) -> None:
    """The WoE of `table` as a Discretize (numeric) or MapValues (categorical)."""
    intervals, specials, missing = table.woe_by_index()
    if table.bin_categories is not None:
        bins = _category_bins(table)
        default = intervals[bins.other] if bins.other != MISSING_SLOT else missing
        mapping = _element(
            parent,
            "MapValues",
            outputColumn="woe",
            dataType="double",
            mapMissingTo=number(missing),
            defaultValue=number(default),
        )
        _element(mapping, "FieldColumnPair", field=field, column="category")
        rows = _element(mapping, "InlineTable")
        for b, members in bins.members:
            for member in members:
                row = _element(rows, "row")
                _element(row, "category").text = _text(member, "the category")
                _element(row, "woe").text = number(intervals[b])
        return
    discretize = _element(
        parent, "Discretize", field=field, dataType="double", mapMissingTo=number(missing)
    )
    cuts = [float(t) for t in table.splits]
    special_woe = dict(zip(table.special_values, specials))
    left: float | None = None
    # The cut points and special values in order: a special value is a bin
    # of its own, a cut closes the interval below it; between two of them
    # lies an open interval of the bin around them.
    for point in sorted(set(cuts) | set(special_woe)):
        slot = int(np.searchsorted(cuts, point, side="left"))
        if point in special_woe:
            _bin(discretize, number(intervals[slot]), "openOpen", left, point)
            _bin(discretize, number(special_woe[point]), "closedClosed", point, point)
        else:
            _bin(discretize, number(intervals[slot]), "openClosed", left, point)
        left = point
    _bin(discretize, number(intervals[len(cuts)]), "openOpen", left, None)


def _bin(
    parent: ET.Element, value: str, closure: str, left: float | None, right: float | None
) -> None:
    margins = {
        name: number(v)
        for name, v in (("leftMargin", left), ("rightMargin", right))
        if v is not None
    }
    _element(
        _element(parent, "DiscretizeBin", binValue=value),
        "Interval",
        closure=closure,
        **margins,
    )


def _data_type(table: BinnedColumn, names: set[str]) -> str:
    """A numeric column is read as a double; one whose categories are the
    booleans' names as a boolean, so that true, "True" and "true" all match
    the category "True" as `transform` names it; any other as text."""
    if table.bin_categories is None:
        return "double"
    return "boolean" if names | set(table.pooled_categories) <= {"True", "False"} else "string"


def _nan_is_missing(table: BinnedColumn, names: set[str]) -> bool:
    """Whether the field declares NaN a missing value. A NaN reaches the
    evaluator as NaN, or for a category as the text "NaN", which the field
    cannot tell apart; `transform` takes that text for a category like any
    other. So a categorical field declares it missing only where the text
    scores as a missing value anyway: a name of no bin, pooled group or
    not, while unmatched names go to the missing-value row."""
    if table.bin_categories is None:
        return True
    return table.pooled_bin is None and "NaN" not in names | set(table.pooled_categories)


def _document(
    fields: Sequence[tuple[str, BinnedColumn]], description: str, target: str | None = None
) -> ET.Element:
    """A PMML root with its header and data dictionary: the input fields,
    then the numeric `target` the model predicts, when it names one."""
    root = ET.Element("PMML", xmlns=NAMESPACE, version="4.4")
    header = _element(root, "Header", description=description)
    _element(header, "Application", name="tessaline", version=__version__)
    dictionary = _element(
        root, "DataDictionary", numberOfFields=str(len(fields) + (target is not None))
    )
    for name, table in fields:
        names = {n for names in table.bin_categories or () for n in names}
        field = _element(
            dictionary,
            "DataField",
            name=_text(name, "the column"),
            optype="continuous" if table.bin_categories is None else "categorical",
            dataType=_data_type(table, names),
        )
        if _nan_is_missing(table, names):
            _element(field, "Value", value="NaN", property="missing")
    if target is not None:
        _element(
            dictionary,
            "DataField",
            name=_text(target, "the output"),
            optype="continuous",
            dataType="double",
        )
    return root


def _mining_schema(model: ET.Element, names: Sequence[str], target: str | None = None) -> None:
    schema = _element(model, "MiningSchema")
    for name in names:
        _element(schema, "MiningField", name=name, invalidValueTreatment="asIs")
    if target is not None:
        _element(schema, "MiningField", name=target, usageType="target")


def _output_field(
    output: ET.Element, name: str, feature: str, data_type: str, **extra: str
) -> ET.Element:
    optype = "continuous" if data_type == "double" else "categorical"
    return _element(
        output,
        "OutputField",
        name=_text(name, "the output"),
        optype=optype,
        dataType=data_type,
        feature=feature,
        **extra,
    )


def _serialized(root: ET.Element) -> str:
    ET.indent(root)
    # A reader turns a carriage return in element text into a line feed;
    # attributes have theirs escaped already, so a bare one is in a text.
    body = ET.tostring(root, encoding="unicode").replace("\r", "&#13;")
    return '<?xml version="1.0" encoding="UTF-8"?>\n' + body + "\n"


def _unclashed(outputs: Sequence[str], inputs: Sequence[str]) -> None:
    clash = sorted({o for o in outputs if outputs.count(o) > 1} | (set(outputs) & set(inputs)))
    if clash:
        raise ValueError(
            f"the outputs' names must differ from each other and from the "
            f"columns': {', '.join(clash)}"
        )


def woe_field(name: str) -> str:
    """The name of the WoE output of the column `name`."""
    return f"woe({name})"


def table_binning_pmml(binning: BinnedTable, *, selected: bool = False) -> str:
    """A PMML document whose TransformationDictionary holds the WoE of each
    binned column (the selected ones with `selected=True`) as `transform`
    gives it, output as ``woe(name)`` by a model that scores nothing else; a
    pair's WoE is looked up by the interval (or group) of each of its columns."""
    pairs = getattr(binning, "pair_tables", {})
    names = binning.selected if selected else [*binning.tables, *pairs]
    if not names:
        raise ValueError("only a fitted TableBinning with binned columns can be written as PMML")
    outputs = [woe_field(n) for n in names]
    fields = _input_fields(names, binning.tables, pairs)
    derived_names = [f"{o} {part}" for o in outputs for part in ("derived", "x", "y")]
    _unclashed([*outputs, *derived_names], [f for f, _ in fields])
    root = _document(fields, "the weight of evidence of each binned column")
    transformations = _element(root, "TransformationDictionary")
    for name, woe in zip(names, outputs):
        if name in pairs:
            _pair_woe(transformations, pairs[name], woe)
            continue
        derived = _element(
            transformations,
            "DerivedField",
            name=f"{woe} derived",
            optype="continuous",
            dataType="double",
        )
        _discretize(derived, binning.tables[name], name)
    model = _element(
        root, "RegressionModel", functionName="regression", modelName="tessaline binning"
    )
    _mining_schema(model, [f for f, _ in fields])
    output = _element(model, "Output")
    for woe in outputs:
        _element(
            _output_field(output, woe, "transformedValue", "double"),
            "FieldRef",
            field=f"{woe} derived",
        )
    _element(model, "RegressionTable", intercept="0")
    return _serialized(root)


def scorecard_pmml(card: PointsModel, *, name: str = "score", reasons: int = 3) -> str:
    """A PMML Scorecard giving each row's score (its target `name`) as
    `Scorecard.score` does and its `reasons` reason codes (outputs
    ``reason_1`` ...) as `Scorecard.reason_codes(n=reasons)` does."""
    if card.binning is None or not card.variables:
        raise ValueError("only a fitted Scorecard can be written as PMML")
    if isinstance(reasons, bool) or not isinstance(reasons, int) or reasons < 0:
        raise ValueError(f"reasons must be a whole number of at least 0, not {reasons!r}")
    variables, tables = card.variables, card.binning.tables
    pairs = getattr(card.binning, "pair_tables", {})
    codes = [f"reason_{i + 1}" for i in range(min(reasons, len(variables)))]
    fields = _input_fields(variables, tables, pairs)
    _unclashed([name, *codes], [f for f, _ in fields])
    root = _document(
        fields,
        "a scorecard: points per bin of each variable, summed",
        target=name,
    )
    model = _element(
        root,
        "Scorecard",
        functionName="regression",
        modelName="tessaline scorecard",
        # -0.0 adds nothing, not even a sign: x + -0.0 is x for every x.
        initialScore="-0.0" if card.intercept_points == "spread" else number(card.base_points),
        useReasonCodes="true" if codes else "false",
        reasonCodeAlgorithm="pointsBelow",
        baselineMethod="max",
    )
    # The score is the model's target: an output field of the predicted value
    # would be a copy, which an evaluator may turn from -0.0 into 0.0.
    _mining_schema(model, [f for f, _ in fields], target=name)
    output = _element(model, "Output") if codes else model
    for rank, code in enumerate(codes, start=1):
        _output_field(output, code, "reasonCode", "string", rank=str(rank))
    characteristics = _element(model, "Characteristics")
    for variable in variables:
        if variable in pairs:
            _pair_characteristic(characteristics, card, variable, pairs[variable])
            continue
        points = _points_by_slot(card, variable)
        characteristic = _characteristic(characteristics, card, variable)
        _attributes(
            characteristic,
            tables[variable],
            variable,
            [number(p) for p in points[:-1]],
            number(points[-1]),
        )
    return _serialized(root)


def _points_by_slot(card: PointsModel, variable: str) -> FloatArray:
    """The points of each interval index, special value and missing value."""
    assert card.binning is not None
    intervals, specials, missing = card.binning.tables[variable].woe_by_index()
    return card.points_of(variable, np.concatenate((intervals, specials, [missing])))


# -- pairs of columns scored by the cells of a grid ------------------------------
class _AxisField:
    """One variable of a grid as the data dictionary reads a binned column:
    numbers, or category names (none pooled)."""

    def __init__(self, groups: tuple[tuple[str, ...], ...] | None):
        self.bin_categories = groups
        self.pooled_categories: tuple[str, ...] = ()
        self.pooled_bin = None


def _input_fields(
    variables: Sequence[str], tables: Mapping[str, Any], pairs: Mapping[str, Any]
) -> list[tuple[str, Any]]:
    """The columns the card reads, each once, with what declares its field:
    a variable's table, or the axis of a pair's grid. A column a pair reads
    as numbers and another variable as categories (or the other way) has no
    one field, and is refused."""
    fields: dict[str, Any] = {}
    for variable in variables:
        if variable not in pairs:
            read = [(variable, tables[variable])]
        else:
            grid = pairs[variable]
            read = [
                (str(grid.name_x), _AxisField(grid.groups_x)),
                (str(grid.name_y), _AxisField(grid.groups_y)),
            ]
        for column, table in read:
            held = fields.setdefault(column, table)
            if (held.bin_categories is None) != (table.bin_categories is None):
                raise ValueError(
                    f"the column {column!r} is read as numbers by one variable and as "
                    f"categories by another (the pair {variable!r}): PMML declares a "
                    "column once"
                )
    return list(fields.items())


# A test of one column that writes its predicate under an element, and the
# index of a grid's axis it gives.
_Rule = tuple[Callable[[ET.Element], object], int]


def _axis_rules(axis: Any, field: str) -> list[_Rule]:
    """The rules that place a value on one axis of a grid, in the order they
    apply, each with the index it gives: a missing value first (to the last
    index), then the intervals closed on the right (the last open above)
    or the groups of categories, then anything else (the last interval, or
    the missing index for a category in no group)."""
    _no_specials(axis, field)
    missing = axis.n_bins
    anything = functools.partial(_element, tag="True")
    rules: list[_Rule] = [
        (functools.partial(_predicate, field=field, operator="isMissing"), missing)
    ]
    if axis.groups is not None:
        rules += [
            (functools.partial(_is_member, field=field, members=list(members)), g)
            for g, members in enumerate(axis.groups)
        ]
        return [*rules, (anything, missing)]
    rules += [
        (functools.partial(_predicate, field=field, operator="lessOrEqual", value=float(cut)), k)
        for k, cut in enumerate(axis.cuts)
    ]
    return [*rules, (anything, missing - 1)]


def _characteristic(parent: ET.Element, card: PointsModel, variable: str) -> ET.Element:
    """The variable's Characteristic, its Attributes to come: its reason code
    is its name, and its baseline score the most points it gives, from which
    reason codes rank the points a row falls short by."""
    return _element(
        parent,
        "Characteristic",
        name=f"{variable} points",
        reasonCode=variable,
        baselineScore=number(float(np.max(card.points[variable]))),
    )


def _pair_characteristic(parent: ET.Element, card: PointsModel, variable: str, grid: Any) -> None:
    """A pair's points as one Characteristic: an Attribute per (x rule, y
    rule), x's rules outside, both of its predicates to hold. The first
    Attribute that holds is in the block of x's first rule that holds, at
    y's first rule that holds: the cell `transform` finds."""
    # Points by cell (each cell of a rectangle has its rectangle's WoE).
    points = card.points_of(variable, np.asarray(grid.woe, dtype=np.float64).ravel())
    columns = grid.woe.shape[1]
    characteristic = _characteristic(parent, card, variable)
    x_rules = _axis_rules(grid.axis_x, str(grid.name_x))
    y_rules = _axis_rules(grid.axis_y, str(grid.name_y))
    for x_rule, i in x_rules:
        for y_rule, j in y_rules:
            attribute = _element(
                characteristic, "Attribute", partialScore=number(points[i * columns + j])
            )
            both = _element(attribute, "CompoundPredicate", booleanOperator="and")
            x_rule(both)
            y_rule(both)


def _no_specials(axis: Any, field: str) -> None:
    """The index of a grid's axis is written for intervals or groups and a
    missing value: special values of its own are refused."""
    if getattr(axis, "specials", ()):
        raise ValueError(
            f"the grid's column {field!r} sets special values apart, which its PMML does not yet"
        )


def _axis_index(parent: ET.Element, axis: Any, field: str) -> None:
    """The interval or group of a grid's axis each value falls in, as text
    ("0", "1", ...; the missing index for a missing value or a category in
    no group): a Discretize of the cut points, or a MapValues of the
    categories."""
    _no_specials(axis, field)
    missing = str(axis.n_bins)
    if axis.groups is not None:
        mapping = _element(
            parent,
            "MapValues",
            outputColumn="index",
            dataType="string",
            mapMissingTo=missing,
            defaultValue=missing,
        )
        _element(mapping, "FieldColumnPair", field=field, column="category")
        rows = _element(mapping, "InlineTable")
        for g, members in enumerate(axis.groups):
            for member in members:
                row = _element(rows, "row")
                _element(row, "category").text = _text(member, "the category")
                _element(row, "index").text = str(g)
        return
    discretize = _element(
        parent, "Discretize", field=field, dataType="string", mapMissingTo=missing
    )
    left: float | None = None
    for k, cut in enumerate(float(c) for c in axis.cuts):
        _bin(discretize, str(k), "openClosed", left, cut)
        left = cut
    _bin(discretize, str(axis.n_bins - 1), "openOpen", left, None)


def _pair_woe(transformations: ET.Element, grid: Any, woe: str) -> None:
    """A pair's WoE as derived fields: the index of each column on its axis
    (``woe x``, ``woe y``), then the cell's WoE looked up by both."""
    for part, axis, field in (("x", grid.axis_x, grid.name_x), ("y", grid.axis_y, grid.name_y)):
        index = _element(
            transformations,
            "DerivedField",
            name=f"{woe} {part}",
            optype="categorical",
            dataType="string",
        )
        _axis_index(index, axis, str(field))
    derived = _element(
        transformations,
        "DerivedField",
        name=f"{woe} derived",
        optype="continuous",
        dataType="double",
    )
    lookup = _element(derived, "MapValues", outputColumn="woe", dataType="double")
    for part in ("x", "y"):
        _element(lookup, "FieldColumnPair", field=f"{woe} {part}", column=part)
    rows = _element(lookup, "InlineTable")
    values = np.asarray(grid.woe, dtype=np.float64)
    for (i, j), w in np.ndenumerate(values):
        row = _element(rows, "row")
        _element(row, "x").text = str(i)
        _element(row, "y").text = str(j)
        _element(row, "woe").text = number(float(w))
