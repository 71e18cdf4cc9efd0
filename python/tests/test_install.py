"""cmake --install puts the package under the prefix, where PYTHONPATH finds it."""

import os
import subprocess
import sys

from conftest import BUILD

IMPORT = """
import sys
import psd, psd.dask
print(psd.__file__)
print(psd.run(sys.argv[1]).nb_section)
"""


def test_installed_package_imports_and_runs(tmp_path, example):
    prefix = tmp_path / "prefix"
    subprocess.run(["cmake", "--install", str(BUILD), "--prefix", str(prefix)], check=True,
                   capture_output=True)
    site = prefix / os.environ.get("PSD_PYTHON_INSTALL_DIR", "lib/python3/dist-packages")
    environment = dict(os.environ, PYTHONPATH=str(site))
    done = subprocess.run([sys.executable, "-c", IMPORT, str(example)], env=environment,
                          cwd=tmp_path, capture_output=True, text=True, check=True)
    assert done.stdout.split() == [str(site / "psd" / "__init__.py"), "16"]
