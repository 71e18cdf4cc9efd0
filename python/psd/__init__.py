"""psd from Python: noise power spectral densities and noise impedance.

The same run, reader, estimator and report as the ``psd`` program, and the
figures of ``psd-summary --csv``, bit for bit::

    import psd
    spectrum = psd.run("cell42")             # as `psd cell42`, nothing written
    spectrum.to_frame()                       # frequency, psd_v, psd_i, zn
    psd.summary(spectrum, band=(2.0, 12.0))   # psd-summary's CSV row as a dict

A failure raises :class:`psd.Error` (a ``ValueError``) with psd's own message.
Nothing prints and nothing waits. docs/python.md tells the whole story.
"""

import csv
import io
import os

from . import _psd

__all__ = ["Error", "Spectrum", "run", "read_record", "spectrum", "summary",
           "SUMMARY_COLUMNS"]
__version__ = _psd.__version__

Error = _psd.Error
Error.__module__ = __name__
Error.__doc__ = ("A failure of psd or psd-summary, carrying the program's own "
                 "message (without the console's blank line before it).")

#: The columns of psd-summary --csv, in order: the keys of summary().
SUMMARY_COLUMNS = tuple(next(csv.reader(io.StringIO(_psd.csv_header()))))

# The cells of psd-summary's CSV that are text or whole numbers; every other
# cell is a number in floating point.
_TEXT_COLUMNS = frozenset(
    ["report", "data_file", "rsn0_model", "special_bins", "sample_file",
     "detrend"])
_WHOLE_COLUMNS = frozenset(
    ["hanning", "nb_section", "nbpoint_section", "rsn0_bins"])


class Spectrum:
    """Averaged periodograms of a voltage and a current record.

    The arrays hold bins 1 .. N/2, as the report's lines do, and are
    read-only:

    * ``psd_v``, ``psd_i`` (float32): the densities psd computes, the very
      floats the report prints;
    * ``frequency`` (float64): k times the bin width, the double the report
      prints (a float32 would lose bits of it);
    * ``zn`` (float64): sqrt(psd_v / psd_i) in double, the value the report
      prints (inf where psd_i is 0).

    A spectrum pickles, so it travels between processes and Dask workers.
    """

    __slots__ = ("_core",)

    def __init__(self, core):
        self._core = core

    @property
    def frequency(self):
        """Bin frequencies in Hz for time stamps in seconds (float64)."""
        return self._core.frequency

    @property
    def psd_v(self):
        """Voltage noise density, V^2/Hz (float32)."""
        return self._core.psd_v

    @property
    def psd_i(self):
        """Current noise density, A^2/Hz (float32)."""
        return self._core.psd_i

    @property
    def zn(self):
        """Noise impedance sqrt(psd_v / psd_i), ohm (float64)."""
        return self._core.zn

    @property
    def deltat(self):
        """The sampling interval, the float32 psd uses, as a Python float."""
        return self._core.deltat

    @property
    def data_file(self):
        """The sample file the report's parameter line names."""
        return self._core.header[0]

    @property
    def hanning(self):
        """hanning as the report shows it: 1 for the Hann window."""
        return self._core.header[1]

    @property
    def nb_section(self):
        """M, the sections averaged."""
        return self._core.header[2]

    @property
    def nbpoint_section(self):
        """N, the points per section."""
        return self._core.header[3]

    @property
    def report_path(self):
        """Where psd.run would write the report; None for a spectrum of
        arrays."""
        return self._core.report_path

    def to_frame(self):
        """The report's columns as a pandas DataFrame indexed by bin."""
        import pandas

        bins = pandas.RangeIndex(1, self.nbpoint_section // 2 + 1, name="bin")
        return pandas.DataFrame(
            {"frequency": self.frequency, "psd_v": self.psd_v,
             "psd_i": self.psd_i, "zn": self.zn}, index=bins)

    def write(self, path):
        """Writes the report to path, byte for byte as psd writes it (and
        replaces an earlier file as psd does)."""
        self._core.write(os.fspath(path))

    def __repr__(self):
        return ("<psd.Spectrum {}: hanning = {}, nb_section = {}, "
                "nbpoint_section = {}, deltat = {:g}>").format(
                    self.data_file, self.hanning, self.nb_section,
                    self.nbpoint_section, self.deltat)


def run(folder, write=False, *, threads=None):
    """Runs psd in folder: reads config_psd.txt and the samples with psd's
    checks and returns the Spectrum; writes the report only when write is
    true, then exactly as psd does.

    threads: the threads of the pass (default: one per core, as psd); the
    spectrum is the same for any number.
    """
    if threads is None:
        threads = 0
    elif not 1 <= threads <= _psd.max_threads:
        raise ValueError(
            "threads must be from 1 to {}".format(_psd.max_threads))
    return Spectrum(_psd.run(os.fspath(folder), bool(write), threads))


def read_record(path):
    """Reads a sample file through psd's one-pass reader into (t, v, i):
    time stamps as float64, voltage and current as float32, under psd's
    sample-line rule (every line a sample line; blank lines that end the
    file are not samples)."""
    return _psd.read_record(os.fspath(path))


def spectrum(v, i, deltat, nbpoint_section, nb_section=0, hanning=True, *,
             data_file="-"):
    """The Spectrum of voltage and current samples v and i at the interval
    deltat (rounded to float32, as psd rounds it), with psd's estimator and
    the checks of a run that apply. Values are rounded to float32 as psd
    rounds a sample line's. data_file: the name the report's parameter line
    shows."""
    return Spectrum(_psd.spectrum(v, i, float(deltat), nbpoint_section,
                                  nb_section, int(hanning), data_file))


def summary(report_or_spectrum, **options):
    """psd-summary --csv's row for a report file or a Spectrum, as a dict of
    its columns: floats, ints (hanning, nb_section, nbpoint_section,
    rsn0_bins), strings, and None for an empty cell.

    Options are psd-summary's: band=(fmin, fmax), slope_band=(fmin, fmax)
    (None leaves an end open), level=0.9, detrend="linear", area=1.0,
    stern_geary=0.026, samples="file", no_samples=True,
    keep_special_bins=True. A Spectrum is summarised as psd-summary
    summarises the report it writes; one of arrays has no sample file unless
    samples names one.
    """
    words = _summary_words(options)
    if isinstance(report_or_spectrum, Spectrum):
        core = report_or_spectrum._core
        if core.report_path is None and "samples" not in options:
            words.append("--no-samples")
        text = core.summary_csv(words)
    else:
        text = _psd.summary_csv(os.fspath(report_or_spectrum), words)
    header, row = csv.reader(io.StringIO(text))
    return {name: _cell(name, cell) for name, cell in zip(header, row)}


def _cell(name, cell):
    if cell == "":
        return None
    if name in _TEXT_COLUMNS:
        return cell
    return int(cell) if name in _WHOLE_COLUMNS else float(cell)


def _number(value):
    # repr gives the shortest text that reads back as the same double.
    return repr(float(value))


def _band(value):
    if isinstance(value, str):
        return value
    low, high = value
    return "{}:{}".format("" if low is None else _number(low),
                          "" if high is None else _number(high))


_VALUED = {"band": ("--band", _band), "slope_band": ("--slope-band", _band),
           "level": ("--level", _number), "area": ("--area", _number),
           "stern_geary": ("--stern-geary", _number),
           "detrend": ("--detrend", str), "samples": ("--samples", os.fspath)}
_FLAGS = {"no_samples": "--no-samples",
          "keep_special_bins": "--keep-special-bins"}


def _summary_words(options):
    """psd-summary's command-line words for the keyword options."""
    words = []
    for name, value in options.items():
        if name in _VALUED:
            option, text = _VALUED[name]
            words += [option, text(value)]
        elif name in _FLAGS:
            if value:
                words.append(_FLAGS[name])
        else:
            raise TypeError(
                "summary() got an unexpected option '{}'".format(name))
    return words
