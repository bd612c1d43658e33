"""Work done in a second process while the caller goes on, where a second core is free: a
report's profiles beside its plan, its HTML beside its PDF. The process is forked, so the
work sees everything the caller had; its result (plain data) comes back pickled."""
from __future__ import annotations

import contextlib
import os
import sys
from typing import Callable, Iterator, TypeVar

T = TypeVar("T")


def spare_core() -> bool:
    """A second core this process may use, on a system that forks safely, from a process
    that may start one (a daemonic worker may not)."""
    import multiprocessing

    cores = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else 1
    return cores >= 2 and sys.platform == "linux" and not multiprocessing.current_process().daemon


@contextlib.contextmanager
def alongside(work: Callable[[], T]) -> Iterator[Callable[[], T]]:
    """Yields the function that returns work()'s result (or raises its error): work runs in
    a forked process from the start, or, without a spare core, when its result is asked for."""
    if not spare_core():
        yield work
        return
    import multiprocessing

    context = multiprocessing.get_context("fork")
    receive, send = context.Pipe(duplex=False)

    def child() -> None:
        try:
            outcome = ("result", work())
        except BaseException as error:  # the caller raises it
            outcome = ("error", error)
        send.send(outcome)

    process = context.Process(target=child, daemon=True)
    process.start()
    send.close()  # the child's end: the caller sees the end of the pipe if the child dies

    def result() -> T:
        try:
            kind, value = receive.recv()  # before joining: a large result fills the pipe first
        except EOFError:
            process.join()
            raise RuntimeError(f"the report's second process ended without a result (exit code {process.exitcode})")
        process.join()
        if kind == "error":
            raise value
        return value

    try:
        yield result
    finally:
        if process.is_alive():
            process.terminate()
            process.join()
        receive.close()
