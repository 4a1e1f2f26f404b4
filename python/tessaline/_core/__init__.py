"""The floor of the package: the one door to the native modules, and the
conversions every layer shares (arrays, targets, categories, tables, text)."""
