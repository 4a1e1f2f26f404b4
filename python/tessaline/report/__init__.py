"""Reports: ``model_report`` writes a validator's page for a fitted
scorecard; the report command (``python -m tessaline report``) bins, ranks and
scores a data set's columns, in the terminal and as one HTML page."""

from ._command import main
from ._model import model_report

__all__ = ["main", "model_report"]
