"""The module's functions pickle by reference, so process pools and schedulers can ship them."""

import multiprocessing
import pickle
from concurrent.futures import ProcessPoolExecutor

import pytest

import rillwright

FUNCTIONS = [name for name in rillwright.__all__ if callable(getattr(rillwright, name))]


def test_every_function_is_listed():
    assert len(FUNCTIONS) == 11


@pytest.mark.parametrize("name", FUNCTIONS)
@pytest.mark.parametrize("protocol", [2, pickle.DEFAULT_PROTOCOL, pickle.HIGHEST_PROTOCOL])
def test_function_pickles_as_a_reference(name, protocol):
    function = getattr(rillwright, name)
    data = pickle.dumps(function, protocol=protocol)
    assert b"rillwright" in data and len(data) < 100  # a name, not a copy of anything
    assert pickle.loads(data) is function


def test_functions_run_in_fresh_worker_processes():
    demo = rillwright.demo_project_json()
    calls = [
        (rillwright.manning_capacity, (1.0, 0.013, 0.01), {}),
        (rillwright.normal_depth, (0.05, 0.3, 0.013, 0.01), {"si": True}),
        (rillwright.circular_geometry, (1.0, 0.5), {}),
        (rillwright.analyze_project, (demo,), {}),
        (rillwright.demo_project_json, (), {}),
    ]
    # "spawn" starts new interpreters, so nothing is inherited: every function travels by pickle.
    with ProcessPoolExecutor(max_workers=2, mp_context=multiprocessing.get_context("spawn")) as pool:
        futures = [pool.submit(function, *args, **kwargs) for function, args, kwargs in calls]
        results = [future.result(timeout=120) for future in futures]
    assert results == [function(*args, **kwargs) for function, args, kwargs in calls]
