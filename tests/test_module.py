"""The module's surface: attributes, docstrings, signatures, argument binding and errors."""
import inspect
import pathlib

import pytest

import rillwright as rw

NAMES = [
    "__version__", "K_MANNING_US", "K_MANNING_SI", "G_US", "G_SI",
    "intensity", "rational_q", "manning_capacity", "circular_flow", "normal_depth",
    "critical_depth", "circular_geometry", "analyze_project", "analyze_file", "analyze_rwn",
    "demo_project_json",
]

SIGNATURES = {
    "intensity": "(a, b, c, t_min)",
    "rational_q": "(c, i, area)",
    "manning_capacity": "(diameter, n, slope, *, si=False)",
    "circular_flow": "(diameter, n, slope, depth, *, si=False)",
    "normal_depth": "(q, diameter, n, slope, *, si=False)",
    "critical_depth": "(q, diameter, *, si=False)",
    "circular_geometry": "(diameter, depth)",
    "analyze_project": "(project_json)",
    "analyze_file": "(path)",
    "analyze_rwn": "(text)",
    "demo_project_json": "()",
}


def test_attributes_in_order():
    assert rw.__all__ == NAMES
    assert [name for name in vars(rw) if name in NAMES] == NAMES
    assert rw.__version__ == "0.9.7"
    assert (rw.K_MANNING_US, rw.K_MANNING_SI, rw.G_US, rw.G_SI) == (1.486, 1.0, 32.2, 9.81)
    assert rw.__doc__ == ""


@pytest.mark.parametrize("name, signature", SIGNATURES.items())
def test_text_signatures(name, signature):
    function = getattr(rw, name)
    assert str(inspect.signature(function)) == signature
    assert function.__module__ == "rillwright"
    assert function.__name__ == name


def test_docstrings():
    assert rw.rational_q.__doc__ == (
        "Rational method peak flow: `Q = C * i * A`.\n\n"
        "With `c` dimensionless, `i` in in/hr and `area` in acres, `Q` is in cfs \u2014\n"
        "the customary near-unity conversion is implicit, as in hand practice."
    )
    assert rw.analyze_project.__doc__ == (
        "Analyze a project given as `.rwproj` JSON text.\n\n"
        'Returns `{"name": str, "pipes": [...], "nodes": [...]}`, ready for\n'
        '`pandas.DataFrame(result["pipes"])`.'
    )
    assert rw.demo_project_json.__doc__ == (
        "The built-in demo project as `.rwproj` JSON \u2014 a runnable starting point."
    )
    assert rw.normal_depth.__doc__ == "Normal depth for a target flow, or `None` if the pipe cannot pass it."


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: rw.normal_depth(1.0, 1.0, 0.013, 0.01, True), "at most 4 positional arguments"),
        (lambda: rw.manning_capacity(1.0, 0.013), "missing required argument 'slope'"),
        (lambda: rw.intensity(1, 2, 3, t_min=4, tmin=5), "takes at most 4 arguments"),
        (lambda: rw.intensity(1, 2, 3, 4, t_min=4), ""),  # wording differs between host versions
        (lambda: rw.rational_q(1, 2, 3, area=3), ""),
        (lambda: rw.circular_geometry(1.0, depth=0.5, width=2), "takes at most 2 arguments"),
        (lambda: rw.demo_project_json(1), "takes no arguments"),
    ],
)
def test_binding_errors_name_the_function(call, message):
    with pytest.raises(TypeError, match=r"\(\)") as info:
        call()
    assert message in str(info.value)


@pytest.mark.parametrize(
    "call, parameter",
    [
        (lambda: rw.manning_capacity("1", 0.013, 0.01), "diameter"),
        (lambda: rw.intensity(1, 2, 3, None), "t_min"),
        (lambda: rw.critical_depth(1.0, 1.0, si=1), "si"),
        (lambda: rw.critical_depth(1.0, 1.0, si=None), "si"),
        (lambda: rw.analyze_file(pathlib.Path("x.rwproj")), "path"),
        (lambda: rw.analyze_rwn(b"NODE"), "text"),
        (lambda: rw.analyze_project(42), "project_json"),
    ],
)
def test_conversion_errors_carry_a_note(call, parameter):
    with pytest.raises(TypeError) as info:
        call()
    if hasattr(info.value, "add_note"):
        assert info.value.__notes__ == [f"while processing '{parameter}'"]


def test_text_and_si_type_errors():
    with pytest.raises(TypeError) as info:
        rw.critical_depth(1.0, 1.0, si=1)
    assert str(info.value) == "critical_depth() argument 'si' must be bool, not int"
    with pytest.raises(TypeError) as info:
        rw.analyze_file(pathlib.Path("x.rwproj"))
    assert str(info.value) == "analyze_file() argument 'path' must be str, not PosixPath"


def test_lone_surrogate_text_fails_to_encode():
    with pytest.raises(UnicodeEncodeError) as info:
        rw.analyze_rwn("NODE \ud800")
    if hasattr(info.value, "add_note"):
        assert info.value.__notes__ == ["while processing 'text'"]


def test_conversion_failure_comes_before_guard():
    with pytest.raises(TypeError):
        rw.manning_capacity(0.0, 0.013, 0.01, si="yes")


class Index:
    def __index__(self):
        return 2


def test_accepted_float_forms():
    assert rw.manning_capacity(True, 0.013, 0.01) == rw.manning_capacity(1.0, 0.013, 0.01)
    assert rw.rational_q(Index(), 1, 1) == 2.0
    assert rw.rational_q(-1.0, 1, 1) == -1.0  # a genuine -1.0 is not an error


def test_numpy_bool_is_accepted_for_si():
    numpy = pytest.importorskip("numpy")
    assert rw.critical_depth(0.1, 0.3, si=numpy.bool_(True)) == rw.critical_depth(0.1, 0.3, si=True)


@pytest.mark.parametrize("bad", [0.0, -1.0, float("nan")])
@pytest.mark.parametrize(
    "call",
    [
        lambda d, n: rw.manning_capacity(d, n, 0.01),
        lambda d, n: rw.circular_flow(d, n, 0.01, 0.5),
        lambda d, n: rw.normal_depth(1.0, d, n, 0.01),
    ],
)
def test_diameter_and_n_guard(call, bad):
    for d, n in [(bad, 0.013), (1.0, bad)]:
        with pytest.raises(ValueError, match=r"^diameter and n must be positive$"):
            call(d, n)


@pytest.mark.parametrize("bad", [0.0, -2.0, float("nan")])
def test_diameter_guard(bad):
    with pytest.raises(ValueError, match=r"^diameter must be positive$"):
        rw.critical_depth(1.0, bad)
    with pytest.raises(ValueError, match=r"^diameter must be positive$"):
        rw.circular_geometry(bad, 0.5)


def test_analyze_file_os_errors(tmp_path):
    missing = str(tmp_path / "missing.rwproj")
    with pytest.raises(OSError) as info:
        rw.analyze_file(missing)
    assert str(info.value) == f"cannot read {missing}: No such file or directory (os error 2)"
    assert (info.value.errno, info.value.strerror, info.value.filename) == (None, None, None)
    assert type(info.value) is OSError

    with pytest.raises(OSError, match=r": Is a directory \(os error 21\)$"):
        rw.analyze_file(str(tmp_path))

    invalid = tmp_path / "latin1.rwproj"
    invalid.write_bytes(b'{"name": "caf\xe9"}')
    with pytest.raises(OSError, match=r"^cannot read .*latin1\.rwproj: stream did not contain valid UTF-8$"):
        rw.analyze_file(str(invalid))

    with pytest.raises(OSError, match=r"path contains a NUL character$"):
        rw.analyze_file(str(tmp_path / "a\0b"))
