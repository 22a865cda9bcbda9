"""The mirtle toolkit (placeholder until the toolkit's own package lands)."""

from __future__ import annotations

import pkgutil
from typing import Any

# The native parts are built into a second mirtle/ folder beside mirtle_py.
__path__ = pkgutil.extend_path(__path__, __name__)

_LAZY = {"documents_table": "tables", "intervals_table": "tables"}


def __getattr__(name: str) -> Any:
    module = _LAZY.get(name)
    if module is None:
        raise AttributeError(f"module 'mirtle' has no attribute {name!r}")
    import importlib
    return getattr(importlib.import_module(f"mirtle.{module}"), name)
