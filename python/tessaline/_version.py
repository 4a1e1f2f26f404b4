"""The release of this tree: the one place it is set. The wheel's metadata
reads it from here, and every document and report the package writes names it."""

__version__ = "0.2.0"
