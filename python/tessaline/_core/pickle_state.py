"""Pickling of the package's objects, with the layout of their state.

The read-only result objects keep their columns in read-only mappings of
read-only arrays, which pickle cannot store as they are, so their state is
written as plain dicts and the protection is put back on loading.

Every pickled state carries `STATE_VERSION`, the number of its layout. A
state of another layout (another release's slots or attributes) is refused
when it is loaded, with the reason, rather than loading into an object that
fails later on a missing attribute. A state without the number is one this
release wrote before it was stored: it loads when its layout is this one."""

from __future__ import annotations

import copy
import types
from typing import Any, ClassVar

import numpy as np

from ..exceptions import StateError

# The layout of the pickled states; raised when a slot or attribute changes.
STATE_VERSION = 1
# The key of the layout number in a pickled state.
VERSION_KEY = "__tessaline_state__"


def _readonly(value: Any) -> Any:
    if isinstance(value, np.ndarray):
        value.setflags(write=False)
    return value


def checked_state(
    cls: type, state: Any, required: set[str], allowed: set[str] | None = None
) -> dict[str, Any]:
    """The fields of a pickled state of `cls` without its layout number, once
    the number is this release's (or absent) and the fields hold every one of
    `required` (and no other than `allowed`, when given)."""
    if not isinstance(state, dict):
        raise StateError(
            f"cannot load this {cls.__name__}: its pickled state is a "
            f"{type(state).__name__}, not the fields of an object"
        )
    fields = dict(state)
    version = fields.pop(VERSION_KEY, None)
    absent = sorted(required - set(fields))
    unknown = sorted(set(fields) - allowed) if allowed is not None else []
    if (version is not None and version != STATE_VERSION) or absent or unknown:
        found = "no" if version is None else repr(version)
        raise StateError(
            f"cannot load this {cls.__name__}: it was pickled by another tessaline release "
            f"(state layout {found}, this release reads {STATE_VERSION}"
            f"{'; lacks ' + ', '.join(absent) if absent else ''}"
            f"{'; has unknown ' + ', '.join(unknown) if unknown else ''}). "
            "Load it with the release that wrote it and keep it as JSON (to_json), "
            "which any release reads, or fit it again"
        )
    return fields


class SlotState:
    """Pickle, copy and deepcopy support for a class with ``__slots__`` whose
    slots may hold read-only mappings and arrays."""

    __slots__ = ()

    @classmethod
    def _slots(cls) -> set[str]:
        return {slot for c in cls.__mro__ for slot in getattr(c, "__slots__", ())}

    def __getstate__(self) -> dict[str, Any]:
        state: dict[str, Any] = {VERSION_KEY: STATE_VERSION}
        for slot in self._slots():
            if hasattr(self, slot):
                value = getattr(self, slot)
                # A read-only mapping is stored as a tagged plain dict.
                state[slot] = (
                    ("mapping", dict(value))
                    if isinstance(value, types.MappingProxyType)
                    else ("value", value)
                )
        return state

    # Slots added to a layout after states were stored without them, and the
    # value such a state loads with.
    _slot_defaults: ClassVar[dict[str, Any]] = {}

    def __setstate__(self, state: Any) -> None:
        slots = self._slots()
        fields = checked_state(type(self), state, slots - set(self._slot_defaults), slots)
        for slot, value in self._slot_defaults.items():
            fields.setdefault(slot, ("value", value))
        for slot, (form, value) in fields.items():
            if form == "mapping":
                value = types.MappingProxyType({k: _readonly(v) for k, v in value.items()})
            object.__setattr__(self, slot, _readonly(value))


class PlainState:
    """Pickle, copy and deepcopy support for a class of plain attributes whose
    constructor takes no required argument: the state is the attributes and
    the layout number, and loading needs every attribute a new object has."""

    # Attributes added to a layout after states were stored without them, and
    # the value such a state loads with (a copy of it).
    _state_defaults: ClassVar[dict[str, Any]] = {}

    def __getstate__(self) -> dict[str, Any]:
        return {**self.__dict__, VERSION_KEY: STATE_VERSION}

    def __setstate__(self, state: Any) -> None:
        if isinstance(state, dict):
            added = {k: copy.copy(v) for k, v in self._state_defaults.items() if k not in state}
            state = {**added, **state}
        self.__dict__.update(checked_state(type(self), state, set(vars(type(self)()))))
