"""psd.run, psd.spectrum and psd.read_record against the reports the built psd
writes: the same bytes, the same printed values, the same arrays."""

import math
import pickle
import shutil

import numpy as np
import pytest

import psd
from conftest import make_folder, run_program

# (count, seed, hanning, nb_section, nbpoint_section, constant current)
RECORDS = [(16384, 1, 1, 8, 1024, False), (10000, 2, 0, 0, 256, False),
           (4099, 3, 2, 3, 1024, False),  # hanning 2: no window, shown as 2
           (64, 4, 0, 0, 2, False), (8192, 5, 1, 0, 512, True)]  # Zn inf and -nan


def field(value):
    """A value as psd prints it: %14.6e, nan spelled as glibc spells it."""
    if math.isnan(value):
        return "{:>14}".format("-nan" if math.copysign(1, value) < 0 else "nan")
    return "%14.6e" % value


def assert_same_as_report(spectrum, report):
    """Every array prints as the report's column; write() gives its bytes."""
    lines = report.read_text().splitlines()
    columns = [list(column) for column in zip(*(line.split("\t") for line in lines[2:]))]
    arrays = [spectrum.frequency, spectrum.psd_v, spectrum.psd_i, spectrum.zn]
    assert [[field(float(x)) for x in array] for array in arrays] == columns
    spectrum.write(report.with_name("written.txt"))
    assert report.with_name("written.txt").read_bytes() == report.read_bytes()


def same_bits(a, b):
    return a.dtype == b.dtype and np.array_equal(a.view(np.uint8), b.view(np.uint8))


def assert_same_spectrum(a, b):
    for name in ("frequency", "psd_v", "psd_i", "zn"):
        assert same_bits(getattr(a, name), getattr(b, name)), name
    for name in ("deltat", "hanning", "nb_section", "nbpoint_section"):
        assert getattr(a, name) == getattr(b, name), name


def test_bundled_example_is_the_report(example):
    assert run_program(example) == (0, "")
    spectrum = psd.run(example)
    assert (spectrum.psd_v.dtype, spectrum.frequency.dtype, spectrum.zn.dtype) == (
        np.float32, np.float64, np.float64)
    assert (spectrum.data_file, spectrum.nb_section) == ("example_samples.txt", 16)
    assert_same_as_report(spectrum, example / "report_psd.txt")


@pytest.mark.parametrize("record", RECORDS)
def test_generated_records_are_the_reports(tmp_path, record):
    count, seed, hanning, nb_section, n, constant = record
    folder = make_folder(tmp_path / "run", count, seed, hanning, nb_section, n, constant)
    assert run_program(folder) == (0, "")
    spectrum = psd.run(folder, threads=1)
    assert_same_as_report(spectrum, folder / "report_psd.txt")
    assert_same_spectrum(psd.run(folder), spectrum)  # one thread per core

    copy = shutil.copytree(folder, tmp_path / "copy")
    (copy / "report_psd.txt").unlink()
    psd.run(copy)
    assert not (copy / "report_psd.txt").exists()
    psd.run(copy, write=True)
    assert (copy / "report_psd.txt").read_bytes() == (folder / "report_psd.txt").read_bytes()

    # The estimator on the arrays the one-pass reader gives is the run's;
    # float64 samples are rounded to float32 as a line's are, a strided array
    # converted once.
    t, v, i = psd.read_record(folder / "samples.txt")
    arrays = psd.spectrum(v, i, t[1] - t[0], n, nb_section, hanning)
    assert_same_spectrum(arrays, spectrum)
    wide = psd.spectrum(v.astype(float), np.repeat(i, 2)[::2], t[1] - t[0], n, nb_section,
                        hanning)
    assert_same_spectrum(wide, spectrum)


def test_read_record_reads_what_the_lines_say(tmp_path):
    lines = ["0 1.5 -2e-9", "0.001\t0x1p-3  3.4e38\r", "  1e-3  .5 +7 ", "2.5e-3 -0.0 1e-45"]
    (tmp_path / "r.txt").write_bytes(("\ufeff" + "\n".join(lines) + "\n\n \n").encode())
    t, v, i = psd.read_record(tmp_path / "r.txt")  # blank lines at the end are no samples
    values = [[float.fromhex(x) if "x" in x else float(x) for x in line.split()]
              for line in lines]
    times, voltages, currents = map(np.array, zip(*values))
    assert same_bits(t, times)
    assert same_bits(v, voltages.astype(np.float32))
    assert same_bits(i, currents.astype(np.float32))
    assert not t.flags.owndata and t.flags.c_contiguous


def test_a_spectrum_pickles_and_is_read_only(example):
    spectrum = psd.run(example)
    copy = pickle.loads(pickle.dumps(spectrum))
    assert_same_spectrum(copy, spectrum)
    assert (copy.data_file, copy.report_path) == (spectrum.data_file, spectrum.report_path)
    frame = copy.to_frame()
    assert list(frame.columns) == ["frequency", "psd_v", "psd_i", "zn"]
    assert (frame.index[0], len(frame)) == (1, 256)
    with pytest.raises(ValueError):
        spectrum.psd_v[0] = 0
