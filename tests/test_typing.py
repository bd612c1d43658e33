"""The shipped type stubs agree with the module and let a type checker check its callers."""

import os
import subprocess
import sys
import sysconfig
import textwrap
from pathlib import Path

import rillwright

SOURCE_STUBS = Path(__file__).resolve().parents[1] / "python"


def checker_env():
    """Environment in which mypy sees the stubs that go with the imported module: the
    installed ones for an installed module, the source tree's for a development build."""
    env = dict(os.environ)
    module_dir = Path(rillwright.__file__).resolve().parent
    env["PYTHONPATH"] = os.pathsep.join([str(module_dir), env.get("PYTHONPATH", "")])
    installed = {Path(sysconfig.get_path(key)).resolve() for key in ("purelib", "platlib")}
    if module_dir not in installed:
        env["MYPYPATH"] = str(SOURCE_STUBS)
    return env


def run_mypy(args, cwd):
    (cwd / "mypy.ini").write_text("[mypy]\n")  # found first, so no user configuration applies
    return subprocess.run([sys.executable, "-m", *args], cwd=cwd, env=checker_env(), capture_output=True,
                          text=True)


def test_stubs_match_the_module(tmp_path):
    run = run_mypy(["mypy.stubtest", "rillwright"], tmp_path)
    assert run.returncode == 0, run.stdout + run.stderr


def test_type_checker_checks_callers(tmp_path):
    (tmp_path / "caller.py").write_text(textwrap.dedent("""\
        import rillwright as rw

        result = rw.analyze_rwn("")
        pipe = result["pipes"][0]
        reveal_type(pipe["from"])
        reveal_type(pipe["hgl_up"])
        reveal_type(result["nodes"][0]["floods"])
        reveal_type(rw.circular_geometry(1.0, 0.5)["top_width"])
        pipe["form"]
        rw.normal_depth(1.0, 1.0, 0.013, 0.01, True)
        depth: float = rw.normal_depth(1.0, 1.0, 0.013, 0.01)
        rw.analyze_file(b"net.rwproj")
        rw.manning_capacity(1, 0.013, 0.01, si=True)
        """))
    run = run_mypy(["mypy", "--no-incremental", "caller.py"], tmp_path)
    found = {}
    for line in run.stdout.splitlines():
        if line.startswith("caller.py:"):
            _, number, severity, message = line.split(":", 3)
            found.setdefault(int(number), []).append((severity.strip(), message.strip()))

    def revealed(number):
        (severity, message), = found[number]
        assert severity == "note" and message.startswith("Revealed type is")
        # Spelling differs between checker versions: "builtins.float | None" or "Optional[float]".
        return message.split('"')[1].replace("builtins.", "").replace("Optional[float]", "float | None")

    assert [revealed(n) for n in (5, 6, 7, 8)] == ["str", "float | None", "bool", "float"], run.stdout
    codes = {n: [m.rsplit("[", 1)[1] for s, m in found[n] if s == "error"] for n in (9, 10, 11, 12)}
    assert codes == {9: ["typeddict-item]"], 10: ["call-arg]"], 11: ["assignment]"], 12: ["arg-type]"]}, run.stdout
    assert set(found) == {5, 6, 7, 8, 9, 10, 11, 12}, run.stdout  # line 13 passes: int and keyword si
