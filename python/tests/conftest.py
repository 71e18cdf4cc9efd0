"""What the module's tests share: the built programs they are held against,
folders with a configuration and a generated record, and the programs' output."""

import os
import shutil
import subprocess
from pathlib import Path

import numpy as np
import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("PSD_BUILD_DIR", ROOT / "build"))
CLOSING_LINE = "\nClick on any key to exit\n"


def write_config(folder, data_file, hanning, nb_section, n, output="report_psd.txt"):
    Path(folder, "config_psd.txt").write_text(
        "{} {} {} {} {}\n".format(data_file, hanning, nb_section, n, output))


def noise(count, seed, constant_current=False):
    """Time stamps 1 ms apart, a drifting voltage and a noisy current."""
    rng = np.random.default_rng(seed)
    i = np.full(count, 2.5e-9) if constant_current else 5e-9 + 1e-9 * rng.standard_normal(count)
    v = 1e-4 * np.cumsum(rng.standard_normal(count)) / np.sqrt(count) + 1e4 * i
    return np.arange(count) * 1e-3, v, i


def write_samples(path, t, v, i):
    """Sample lines of mixed forms: %.9g, %.7e, a blank and a tab."""
    Path(path).write_text("".join("{:.9g} {:.7e}\t{:.9g}\n".format(*s) for s in zip(t, v, i)))


def make_folder(folder, count, seed, hanning=1, nb_section=0, n=1024, constant=False):
    os.makedirs(folder, exist_ok=True)
    write_samples(Path(folder, "samples.txt"), *noise(count, seed, constant))
    write_config(folder, "samples.txt", hanning, nb_section, n)
    return Path(folder)


def run_program(folder):
    """The built psd run on folder: its exit status and console text."""
    done = subprocess.run([str(BUILD / "psd"), str(folder)], stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, check=False)
    return done.returncode, done.stdout


def program_message(folder):
    """psd's message in folder without the blank line before it and the
    closing line, as psd.Error carries it."""
    status, text = run_program(folder)
    assert status == 1 and text.startswith("\n") and text.endswith(CLOSING_LINE), text
    return text[1:-len(CLOSING_LINE)]


def program_summary(*arguments):
    """psd-summary --csv on its arguments: status, output and message."""
    done = subprocess.run([str(BUILD / "psd-summary"), "--csv", *map(str, arguments)],
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, check=False)
    return done.returncode, done.stdout, done.stderr


@pytest.fixture
def example(tmp_path):
    """A copy of the bundled example without its report: the repository is
    never written."""
    folder = shutil.copytree(ROOT / "examples", tmp_path / "example")
    for report in folder.glob("report_psd*"):
        report.unlink()
    return folder
