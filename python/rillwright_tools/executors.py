"""Where the companion functions run their analyses: any concurrent.futures.Executor.
By default all local cores (worker processes); one worker runs in the calling process;
`--scheduler ADDRESS` runs them on a Dask cluster. Tasks are module-level functions
whose arguments are plain values, so every executor can ship them; a network goes to
each worker once (`shared`), not with every task; and results are collected in
submission order, so they never depend on which executor ran them."""

from __future__ import annotations

import concurrent.futures
import contextlib
import hashlib
import os
import pickle
import tempfile
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
class Shared:
    """A large task argument, sent to each worker once: for local worker processes a
    private file that each reads once; on a Dask cluster the value scattered to every
    worker, the tasks carrying only its key (they receive `(Shared, future)`, which the
    cluster hands over as `(Shared, value)`); for any other executor the value itself. A
    worker keeps what it made of the latest one (`unpack`), keyed by the value's digest,
    so a network is parsed once per worker, not once per task."""

    token: str  # SHA-256 of the pickled value
    path: Optional[str] = None  # local processes: the pickled value
    value: Any = None  # other executors: the value itself


_LOADED: Dict[str, Any] = {}  # in a worker process: what `unpack` made of the latest Shared value


def unpack(value: Any, build: Optional[Callable[[Any], Any]] = None) -> Any:
    """In a task: the argument that `shared` stood in for, passed through `build` (once per
    worker and shared value; a caller gives the same `build` for the same value)."""
    if isinstance(value, tuple) and len(value) == 2 and isinstance(value[0], Shared):
        value = Shared(value[0].token, value=value[1])  # scattered: the cluster put the value in
    if not isinstance(value, Shared):
        return value
    made = _LOADED.get(value.token)
    if made is None:
        if value.path is None:
            loaded = value.value
        else:
            with open(value.path, "rb") as handle:
                loaded = pickle.load(handle)
        made = build(loaded) if build is not None else loaded
        _LOADED.clear()  # a worker keeps one network: tasks of one call come together
        _LOADED[value.token] = made
    return made


@contextlib.contextmanager
def shared(executor: concurrent.futures.Executor, value: Any, inline: Any = None) -> Iterator[Any]:
    """`value` as the tasks of `executor` should receive it, to be passed through `unpack`:
    `inline` (default: the value) when the tasks run in this process; for local worker
    processes a private file they read once each (a network of megabytes would otherwise
    be copied to them with every analysis); on a Dask cluster (its client's executor) the
    value scattered once to every worker; for any other executor the value, tagged so
    that each worker makes what it needs of it once."""
    if isinstance(executor, InlineExecutor):
        yield value if inline is None else inline
        return
    pickled = pickle.dumps(value, protocol=pickle.HIGHEST_PROTOCOL)
    token = hashlib.sha256(pickled).hexdigest()
    if not isinstance(executor, concurrent.futures.ProcessPoolExecutor):
        client = getattr(executor, "_client", None)  # distributed's ClientExecutor keeps its client there
        if client is not None and hasattr(client, "scatter"):
            # In a list: the cluster would scatter a tuple's items one by one.
            future = client.scatter([value], broadcast=True, hash=False)[0]
            try:
                yield (Shared(token), future)
            finally:
                future.release()
            return
        yield Shared(token, value=value)
        return
    with tempfile.TemporaryDirectory(prefix="rillwright-") as directory:
        path = os.path.join(directory, "network.pickle")
        with open(path, "wb") as handle:
            handle.write(pickled)
        yield Shared(token, path=path)
