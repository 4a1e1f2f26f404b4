"""The report command (``python -m tessaline report``): a data set's columns
binned, ranked and scored, in the terminal and as one HTML page."""

from .command import main

__all__ = ["main"]
