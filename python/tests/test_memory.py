"""Ten million lines read into arrays cost the arrays and little more: t 8 +
v 4 + i 4 bytes a sample, never a second copy."""

import subprocess
import sys

import numpy as np

LINES = 10_000_000

# In a process of its own, so that its peak resident size is the read's.
MEASURE = """
import sys
import numpy  # loaded with the first array handed over: its 20 MB are no sample's
import psd
def status(field):
    with open("/proc/self/status") as lines:
        return 1024 * int(next(l for l in lines if l.startswith(field + ":")).split()[1])
before = status("VmRSS")
t, v, i = psd.read_record(sys.argv[1])
print(len(t), status("VmHWM") - before, type(t.base).__name__, t.flags.owndata, t[-1])
"""


def write_long_record(path, count):
    """Lines "TTTTTTTTTT.TTT +1.234567e-03 -7.654321e-09", 1 ms apart, made as
    bytes a block at a time."""
    tail = np.frombuffer(b" +1.234567e-03 -7.654321e-09\n", np.uint8)
    with open(path, "wb") as out:
        for first in range(0, count, 1 << 17):
            k = np.arange(first, min(first + (1 << 17), count))
            lines = np.empty((len(k), 14 + len(tail)), np.uint8)
            lines[:, 14:], lines[:, 10] = tail, ord(".")
            for column in (13, 12, 11, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0):
                lines[:, column], k = k % 10 + ord("0"), k // 10
            out.write(lines.tobytes())


def test_ten_million_lines_cost_sixteen_bytes_a_sample(tmp_path):
    record = tmp_path / "long.txt"
    write_long_record(record, LINES)
    try:
        done = subprocess.run([sys.executable, "-c", MEASURE, str(record)],
                              capture_output=True, text=True, check=True)
    finally:
        record.unlink()  # 430 MB: pytest keeps its last temporary folders
    count, grown, base, owndata, last = done.stdout.split()
    assert (int(count), float(last)) == (LINES, (LINES - 1) / 1000)
    # The arrays own nothing: their memory is the reader's, handed over whole.
    assert (base, owndata) == ("PyCapsule", "False")
    print("peak resident size grew by {:.2f} bytes a sample".format(int(grown) / LINES))
    # 16 for the arrays, and the reader's 1 MiB block and 1.5 MiB of sections.
    assert 16 * LINES <= int(grown) < 16.5 * LINES
