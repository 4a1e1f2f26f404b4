"""Every error and warning the package raises of its own, in one place, so
that any layer can raise them without importing the layer that defines a
model."""

from __future__ import annotations


class TargetError(ValueError):
    """The target cannot be read as events and non-events as given."""


class DocumentError(ValueError):
    """A JSON document that is not a readable tessaline binning."""


class NotFittedError(ValueError, AttributeError):
    """transform was called before fit (the same bases as scikit-learn's own)."""


class DataError(Exception):
    """The file or the target cannot be used as asked; the message says why."""


class UnseenValueWarning(UserWarning):
    """A value met at transform falls in no row that training saw (a missing
    value or a special value training had none of): it gets the WoE that
    `transform`'s `unseen` chooses."""


class UnseenCategoryWarning(UnseenValueWarning):
    """A category met at transform falls in no bin of the table."""


class StateError(ValueError):
    """A pickled object of another tessaline release, whose state this one cannot load."""


class EditError(ValueError):
    """An edit of a binning table that cannot be made (or replayed) as asked."""


class TrendWarning(UserWarning):
    """An edit left the event rate over a table's bins without a monotone trend."""


class EmptyBinWarning(UserWarning):
    """An edit left a bin without rows: its WoE and IV are 0, and a value met
    there at transform scores as the whole population."""


class FewEventsWarning(UserWarning):
    """A model fitted on fewer events per variable than its threshold: its
    coefficients may run against their WoE, or hold on the training rows only."""


class MissingDependencyError(ImportError):
    """An optional library that a function needs is not installed; the message
    names the function and the extra of tessaline that installs the library."""


__all__ = [
    "DataError",
    "DocumentError",
    "EditError",
    "EmptyBinWarning",
    "FewEventsWarning",
    "MissingDependencyError",
    "NotFittedError",
    "StateError",
    "TargetError",
    "TrendWarning",
    "UnseenCategoryWarning",
    "UnseenValueWarning",
]
