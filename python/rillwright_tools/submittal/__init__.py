"""The design report: one analysis as a self-contained HTML file and, optionally, a PDF."""

from .build import report

__all__ = ["report"]
