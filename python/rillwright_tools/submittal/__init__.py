"""The design report: one analysis as a self-contained HTML file and, optionally, a PDF."""

from .writer import report, write_report

__all__ = ["report", "write_report"]
