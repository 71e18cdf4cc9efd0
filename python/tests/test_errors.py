"""Every failure raises psd.Error carrying the message the built psd gives for
the same folder or file."""

import numpy as np
import pytest

import psd
from conftest import noise, program_message, write_config, write_samples

LINES = ["{:.3f} {} {}e-9\n".format(k * 1e-3, 1 + k % 7, 2 + k % 5) for k in range(2048)]


def samples(text):
    return lambda folder: (folder / "samples.txt").write_text(text)


def config(line):
    return lambda folder: (folder / "config_psd.txt").write_text(line + "\n")


def with_line(number, line):
    return samples("".join(LINES[:number - 1] + [line] + LINES[number:]))


GOOD = samples("".join(LINES))
# The files that make each failure of a run, config_psd.txt last.
RUN_FAILURES = {
    "folder_not_entered": [],
    "config_missing": [GOOD],
    "config_missing_field": [GOOD, config("samples.txt 1 2")],
    "config_not_whole": [GOOD, config("samples.txt 1 two 1024 out.txt")],
    "samples_missing": [config("nothing.txt 1 2 1024 out.txt")],
    "same_as_samples": [GOOD, config("samples.txt 1 2 1024 samples.txt")],
    "same_as_config": [GOOD, config("samples.txt 1 2 1024 config_psd.txt")],
    "samples_a_folder": [lambda f: (f / "s").mkdir(), config("s 1 2 1024 out.txt")],
    "fewer_than_two": [samples("0 1 2\n"), config("samples.txt 1 0 2 out.txt")],
    "header_line": [with_line(1, "t v i\n"), config("samples.txt 1 2 1024 o.txt")],
    "too_few_points": [GOOD, config("samples.txt 1 3 1024 out.txt")],
    "not_power_of_two": [GOOD, config("samples.txt 1 2 1000 out.txt")],
    "negative_sections": [GOOD, config("samples.txt 1 -1 1024 out.txt")],
    "hann_of_two": [GOOD, config("samples.txt 1 0 2 out.txt")],
    "bad_interval": [with_line(2, "0 1 2\n"), config("samples.txt 1 2 1024 out.txt")],
    "unusable_interval": [samples("0 1 2\n1e-45 1 2\n" * 512), config("samples.txt 0 0 4 o")],
    "comma": [with_line(700, "0,7 1 2\n"), config("samples.txt 1 2 1024 out.txt")],
    "dropout": [with_line(700, "0.7 nan 2\n"), config("samples.txt 1 2 1024 out.txt")],
    "long_line": [with_line(700, "0.7 1 " + "2" * 200 + "\n"), config("samples.txt 1 0 4 o")],
    "blank_line": [with_line(700, "\n"), config("samples.txt 1 2 1024 out.txt")],
    "report_cannot_create": [GOOD, config("samples.txt 1 2 1024 no/out.txt")],
}


def message_in(folder, makes):
    if makes:
        folder.mkdir()
    for make in makes:
        make(folder)
    return program_message(folder)


@pytest.mark.parametrize("name", sorted(RUN_FAILURES))
def test_run_failures_are_the_programs(tmp_path, name):
    folder = tmp_path / "run"
    expected = message_in(folder, RUN_FAILURES[name])
    with pytest.raises(psd.Error) as raised:
        psd.run(folder, write=True)
    assert str(raised.value) == expected and isinstance(raised.value, ValueError)


@pytest.mark.parametrize("name, n, nb_section, hanning, deltat", [
    ("too_few_points", 1024, 3, 1, 1e-3), ("not_power_of_two", 1000, 2, 1, 1e-3),
    ("hann_of_two", 2, 0, 1, 1e-3), ("unusable_interval", 4, 0, 0, 1e-45),
])
def test_spectrum_refusals_are_the_programs(tmp_path, name, n, nb_section, hanning, deltat):
    # The program's words, the file's name replaced by the arrays'.
    expected = message_in(tmp_path / "run", RUN_FAILURES[name])
    expected = expected.replace("samples.txt", "the record")
    v = np.ones(2048 if name != "unusable_interval" else 1024, np.float32)
    with pytest.raises(psd.Error) as raised:
        psd.spectrum(v, v, deltat, n, nb_section, hanning)
    assert str(raised.value) == expected


def test_a_dropout_in_arrays_is_the_programs_line_message(tmp_path):
    t, v, i = noise(2048, 21)
    v[699] = np.nan
    write_samples(tmp_path / "samples.txt", t, v, i)
    write_config(tmp_path, "samples.txt", 1, 2, 1024)
    head, _, tail = program_message(tmp_path).replace("samples.txt", "the record").partition(': "')
    with pytest.raises(psd.Error) as raised:
        psd.spectrum(v, i, 1e-3, 1024, 2)
    assert str(raised.value).startswith(head + ': "nan ')
    assert str(raised.value).endswith(tail[tail.index('"'):])
    with pytest.raises(psd.Error, match="v holds 2048 samples and i 2047"):
        psd.spectrum(v, i[1:], 1e-3, 1024)


@pytest.mark.parametrize("text", [
    "".join(LINES[:7] + ["0,1 2 3\n"] + LINES[8:]),  # a bad line 8
    "".join(LINES[:3] + ["\n"] + LINES[4:]),  # a blank line between samples
    "0 1 2\n",  # fewer than two lines
])
def test_read_record_refusals_are_the_programs(tmp_path, monkeypatch, text):
    # With N = 2 and nb_section 0 psd uses every line of an even count.
    monkeypatch.chdir(tmp_path)
    (tmp_path / "samples.txt").write_text(text)
    write_config(tmp_path, "samples.txt", 0, 0, 2)
    expected = program_message(tmp_path)
    with pytest.raises(psd.Error) as raised:
        psd.read_record("samples.txt")
    assert str(raised.value) == expected
    with pytest.raises(psd.Error, match="^The file missing.txt does not exist in the current"):
        psd.read_record("missing.txt")
