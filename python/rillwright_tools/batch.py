"""Many projects at once: one analysis per file in worker processes, one combined pipe table."""

from __future__ import annotations

import concurrent.futures
import contextlib
import csv
import sys
from typing import Dict, List, Optional, TextIO, Tuple

from .executors import local_executor
from .inputs import InputError, Source, analyse, one_line, read_source
from .tables import PIPE_KEYS, csv_cells

# (CSV cells of the pipe rows, None) on success, (None, message) on failure.
Outcome = Tuple[Optional[List[List[str]]], Optional[str]]


def analyse_file(path: str) -> Outcome:
    """Runs in a worker process; never raises, so one bad file cannot stop the others.
    The rows come back formatted, which keeps that work off the process that collects them."""
    return analyse_source(path, None)


def analyse_source(path: str, source: Optional[Source]) -> Outcome:
    """`analyse_file` of a file already read (for workers on other machines, which may not
    see the file), or of the path when `source` is None."""
    try:
        source = source or read_source(path)
        return [csv_cells(row, PIPE_KEYS) for row in analyse(source)["pipes"]], None
    except InputError as error:
        return None, str(error)  # a loop named by its pipes (inputs.analyse)
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as error:  # the module's internal faults derive from BaseException
        return None, f"{path}: internal error: {one_line(str(error)) or type(error).__name__}"


class Progress:
    """A count on stderr: one line rewritten in place on a terminal, a line per tenth otherwise."""

    def __init__(self, total: int, stream: TextIO) -> None:
        self.total, self.done, self.failed, self.stream = total, 0, 0, stream
        self.live = stream.isatty()
        self.next_report = 1

    def _status(self) -> str:
        failed = f" ({self.failed} failed)" if self.failed else ""
        return f"analysed {self.done}/{self.total}{failed}"

    def advance(self, failure: Optional[str]) -> None:
        self.done += 1
        if failure is not None:
            self.failed += 1
            self._clear()
            self.stream.write(f"rillwright: error: {failure}\n")
        if self.live:
            self.stream.write("\r" + self._status())
        elif self.done * 10 >= self.next_report * self.total:
            self.stream.write(self._status() + "\n")
            while self.done * 10 >= self.next_report * self.total:
                self.next_report += 1
        self.stream.flush()

    def _clear(self) -> None:
        if self.live:
            self.stream.write("\r\033[K")

    def finish(self) -> None:
        if self.live:
            self.stream.write("\n")
            self.stream.flush()


def run_batch(paths: List[str], workers: int, out: TextIO,
              progress_stream: Optional[TextIO] = None,
              executor: Optional[concurrent.futures.Executor] = None) -> Tuple[int, int]:
    """Analyses every file and writes their pipe rows in the order of `paths`, on
    `executor` when given (a Dask cluster's, say), else on `workers` local processes.
    Returns (pipe rows written, files that failed)."""
    outcomes: List[Outcome] = [(None, None)] * len(paths)
    progress = Progress(len(paths), progress_stream or sys.stderr)
    workers = max(1, min(workers, len(paths)))
    if executor is None and workers == 1:
        for index, path in enumerate(paths):
            outcomes[index] = analyse_file(path)
            progress.advance(outcomes[index][1])
    else:
        with contextlib.ExitStack() as stack:
            if executor is None:
                executor = stack.enter_context(local_executor(workers))
                futures = {executor.submit(analyse_file, path): index for index, path in enumerate(paths)}
            else:
                futures = submit_texts(executor, paths, outcomes, progress)
            for future in concurrent.futures.as_completed(futures):
                index = futures[future]
                try:
                    outcomes[index] = future.result()
                except concurrent.futures.process.BrokenProcessPool:
                    outcomes[index] = (None, f"{paths[index]}: the worker process analysing it stopped unexpectedly")
                progress.advance(outcomes[index][1])
    progress.finish()

    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(["project", *PIPE_KEYS])
    written = 0
    for path, (rows, _) in zip(paths, outcomes):
        for cells in rows or []:
            writer.writerow([path, *cells])
            written += 1
    return written, progress.failed


def submit_texts(executor: concurrent.futures.Executor, paths: List[str], outcomes: List[Outcome],
                 progress: Progress) -> Dict["concurrent.futures.Future[Outcome]", int]:
    """Submits every readable file as text, since the workers of a cluster may not see the
    files; a file that cannot be read here fails here."""
    futures = {}
    for index, path in enumerate(paths):
        try:
            source = read_source(path)
        except InputError as error:
            outcomes[index] = (None, str(error))
            progress.advance(outcomes[index][1])
            continue
        futures[executor.submit(analyse_source, path, source)] = index
    return futures
