"""psd.summary against psd-summary --csv run on the same report with the same
options: the same columns, the same cells."""

import csv
import io

import pytest

import psd
from conftest import make_folder, program_summary, run_program

# Keyword options and psd-summary's words for them.
OPTIONS = [
    ({}, []),
    ({"band": (2.0, 12.0), "level": 0.9}, ["--band", "2:12", "--level", "0.9"]),
    ({"slope_band": (20, None), "keep_special_bins": True},
     ["--slope-band", "20:", "--keep-special-bins"]),
    ({"detrend": "linear", "area": 1.5, "stern_geary": 0.026},
     ["--detrend", "linear", "--area", "1.5", "--stern-geary", "0.026"]),
    ({"detrend": "quadratic", "band": "1:30"}, ["--detrend", "quadratic", "--band", "1:30"]),
    ({"no_samples": True}, ["--no-samples"]),
]


def assert_row(row, *arguments):
    """row holds psd-summary's CSV cells: None for an empty one, else the
    same text or number."""
    status, text, message = program_summary(*arguments)
    assert status == 0, message
    header, cells = csv.reader(io.StringIO(text))
    assert list(row) == header
    for name, cell in zip(header, cells):
        value = row[name]
        assert value is None if cell == "" else cell == value or float(cell) == value, name


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    folder = make_folder(tmp_path_factory.mktemp("summary"), 16384, 11)
    assert run_program(folder) == (0, "")
    return folder


@pytest.mark.parametrize("options, words", OPTIONS)
def test_summary_is_psd_summary_csv(folder, options, words):
    report = folder / "report_psd.txt"
    assert_row(psd.summary(report, **options), *words, report)
    # A run's spectrum is summarised as the report it writes.
    assert_row(psd.summary(psd.run(str(folder)), **options), *words, report)


def test_spectrum_of_arrays_has_no_sample_file(folder):
    t, v, i = psd.read_record(folder / "samples.txt")
    spectrum = psd.spectrum(v, i, t[1] - t[0], 1024, data_file="samples.txt")
    spectrum.write(folder / "arrays.txt")
    row = psd.summary(spectrum)
    assert row["report"] is None and row["rn_ohm"] is None
    assert_row(dict(row, report=str(folder / "arrays.txt")), "--no-samples", folder / "arrays.txt")
    assert psd.summary(spectrum, samples=folder / "samples.txt")["rn_ohm"] == psd.summary(
        folder / "report_psd.txt")["rn_ohm"]


@pytest.mark.parametrize("options, words", [
    ({"level": 1.5}, ["--level", "1.5"]),
    ({"band": (600, 700)}, ["--band", "600:700"]),
    ({"detrend": "cubic"}, ["--detrend", "cubic"]),
    ({"detrend": "linear", "no_samples": True}, ["--detrend", "linear", "--no-samples"]),
    ({}, []),  # the sample file is not beside this copy of the report
])
def test_refusals_are_psd_summary_messages(folder, tmp_path, options, words):
    report = tmp_path / "report_psd.txt"
    report.write_bytes((folder / "report_psd.txt").read_bytes())
    _, _, message = program_summary(*words, report)
    with pytest.raises(psd.Error) as raised:
        psd.summary(report, **options)
    assert message.startswith("psd-summary: " + str(raised.value) + "\n")
    with pytest.raises(TypeError):
        psd.summary(report, bands=(1, 2))
