"""The `rillwright` command line: design tables, CSV files, profile drawings and batch runs."""

from .cli import main

__all__ = ["main"]
