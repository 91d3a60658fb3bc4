"""The tutorial notebook docs/tutorial.ipynb executed from a clean kernel (Debian's nbclient and
ipykernel), so that it never rots: a cell that fails fails the test with the cell's error.

    python3 -m pytest tests/scripts/test_notebook.py      (TAVO: the program)
"""
import os

import nbformat
from nbclient import NotebookClient

from conftest import TOP


def test_the_tutorial_runs_from_a_clean_kernel(tavo_exe, tmp_path, monkeypatch):
    # The kernel inherits this environment: the program, and every file it writes (its runs, the
    # kernel's own files) under this test's directory.
    for name, value in (("TAVO", tavo_exe), ("TMPDIR", str(tmp_path)), ("IPYTHONDIR", str(tmp_path / "ipython")),
                        ("JUPYTER_RUNTIME_DIR", str(tmp_path / "jupyter")), ("MPLCONFIGDIR", str(tmp_path / "mpl")),
                        ("PYDEVD_DISABLE_FILE_VALIDATION", "1")):
        monkeypatch.setenv(name, value)
    monkeypatch.delenv("TAVO_RUN", raising=False)
    notebook = nbformat.read(os.path.join(TOP, "docs", "tutorial.ipynb"), as_version=4)
    NotebookClient(notebook, timeout=600, kernel_name="python3",
                   resources={"metadata": {"path": os.path.join(TOP, "docs")}}).execute()
    outputs = "".join(o.get("text", "") for cell in notebook.cells for o in cell.get("outputs", []))
    assert "saturated" in outputs and "series from t = " in outputs
