"""Pickling of the read-only result objects: their columns live in read-only
mappings of read-only arrays, which pickle cannot store as they are, so the
state is written as plain dicts and the protection is put back on loading."""
from __future__ import annotations

import types
from typing import Any

import numpy as np


def _readonly(value: Any) -> Any:
    if isinstance(value, np.ndarray):
        value.setflags(write=False)
    return value


class SlotState:
    """Pickle, copy and deepcopy support for a class with ``__slots__`` whose
    slots may hold read-only mappings and arrays."""

    __slots__ = ()

    def __getstate__(self) -> dict[str, Any]:
        state: dict[str, Any] = {}
        for cls in type(self).__mro__:
            for slot in getattr(cls, "__slots__", ()):
                if hasattr(self, slot):
                    value = getattr(self, slot)
                    # A read-only mapping is stored as a tagged plain dict.
                    state[slot] = (("mapping", dict(value))
                                   if isinstance(value, types.MappingProxyType) else ("value", value))
        return state

    def __setstate__(self, state: dict[str, Any]) -> None:
        for slot, (form, value) in state.items():
            if form == "mapping":
                value = types.MappingProxyType({k: _readonly(v) for k, v in value.items()})
            object.__setattr__(self, slot, _readonly(value))
