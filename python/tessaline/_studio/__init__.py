"""The binning studio: every column's bins edited in a browser page served
on this machine, each edit the package's own (exact, logged with its
reason), the edited binning saved as its JSON document.

    python -m tessaline studio DATA.csv --target COLUMN [--event VALUE] [--output OUT.json]
    handle = tl.studio(None, data, "creditability", event="bad")
"""

from .launch import Studio, studio

__all__ = ["Studio", "studio"]
