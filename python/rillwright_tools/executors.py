"""Where the companion functions run their analyses: any concurrent.futures.Executor.
By default all local cores (worker processes); one worker runs in the calling process;
`--scheduler ADDRESS` runs them on a Dask cluster. Tasks are module-level functions
whose arguments are plain values (the network text among them), so every executor
can ship them, and results are collected in submission order, so they never depend
on which executor ran them."""

from __future__ import annotations

import concurrent.futures
import contextlib
import os
import pickle
import tempfile
import uuid
from dataclasses import dataclass
from typing import Any, Callable, Dict, Iterator, List, Optional, Sequence, Tuple


class InlineExecutor(concurrent.futures.Executor):
    """Runs each task at once in the calling process: no worker start-up, nothing to ship."""

    def submit(self, fn: Callable[..., Any], /, *args: Any, **kwargs: Any) -> "concurrent.futures.Future[Any]":
        future: "concurrent.futures.Future[Any]" = concurrent.futures.Future()
        try:
            future.set_result(fn(*args, **kwargs))
        except BaseException as error:  # handed to the caller through the future, as a pool would
            future.set_exception(error)
        return future


def default_workers() -> int:
    return os.cpu_count() or 1


def local_executor(workers: Optional[int] = None) -> concurrent.futures.Executor:
    """`workers` processes (default: one per core); a single worker runs inline."""
    count = workers if workers is not None else default_workers()
    if count < 1:
        raise ValueError(f"workers must be at least 1, not {count}")
    if count == 1:
        return InlineExecutor()
    return concurrent.futures.ProcessPoolExecutor(max_workers=count)


@contextlib.contextmanager
def executor_for(workers: Optional[int] = None, scheduler: Optional[str] = None) -> Iterator[concurrent.futures.Executor]:
    """The executor of the command-line options, closed on leaving: a Dask cluster's when
    `scheduler` is its address, else local processes."""
    if scheduler is None:
        with local_executor(workers) as executor:
            yield executor
        return
    try:
        from distributed import Client
    except ImportError:
        raise ValueError("--scheduler needs Dask's distributed package: "
                         "pip install 'rillwright[cluster]'") from None
    try:
        client = Client(scheduler, timeout=30)
    except (OSError, TimeoutError) as error:
        raise ValueError(f"cannot reach the Dask scheduler at {scheduler}: {error}") from None
    try:
        yield client.get_executor()
    finally:
        client.close()


@contextlib.contextmanager
def given_or_default(executor: Optional[concurrent.futures.Executor]) -> Iterator[concurrent.futures.Executor]:
    """The caller's executor, left open, or all local cores for the duration of the call."""
    if executor is not None:
        if not isinstance(executor, concurrent.futures.Executor):
            raise TypeError(f"executor must be a concurrent.futures.Executor, not {type(executor).__name__}")
        yield executor
        return
    with local_executor() as own:
        yield own


def run_all(executor: concurrent.futures.Executor, function: Callable[..., Any],
            calls: Sequence[Tuple[Any, ...]]) -> List[Any]:
    """`function(*call)` for every call, results in the order of `calls`; the first
    failure is raised once every task has ended."""
    futures = [executor.submit(function, *call) for call in calls]
    concurrent.futures.wait(futures)
    return [future.result() for future in futures]


@dataclass(frozen=True)
class OnDisk:
    """A large task argument left in a file for local worker processes, each of which reads
    it once instead of receiving it with every task."""

    path: str
    token: str


_LOADED: Dict[str, Any] = {}  # in a worker process: the latest OnDisk value it read


def unpack(value: Any) -> Any:
    """In a task: the argument that `shared` stood in for."""
    if not isinstance(value, OnDisk):
        return value
    if value.token not in _LOADED:
        _LOADED.clear()
        with open(value.path, "rb") as handle:
            _LOADED[value.token] = pickle.load(handle)
    return _LOADED[value.token]


@contextlib.contextmanager
def shared(executor: concurrent.futures.Executor, value: Any) -> Iterator[Any]:
    """`value` as the tasks of `executor` should receive it: for local worker processes a
    private file they read once each (a network of megabytes would otherwise be copied to
    them with every analysis), for any other executor the value itself. Tasks pass what
    they receive through `unpack`."""
    if not isinstance(executor, concurrent.futures.ProcessPoolExecutor):
        yield value
        return
    with tempfile.TemporaryDirectory(prefix="rillwright-") as directory:
        path = os.path.join(directory, "network.pickle")
        with open(path, "wb") as handle:
            pickle.dump(value, handle, protocol=pickle.HIGHEST_PROTOCOL)
        yield OnDisk(path, uuid.uuid4().hex)
