"""Many records with Dask: a LocalCluster of two worker processes gives the
frame a plain loop gives, and spectra travel between processes."""

import logging

import numpy as np
import pandas
import pytest
from distributed import Client, LocalCluster

import psd
import psd.dask
from conftest import make_folder, write_config

pytestmark = [
    pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning"),
    # summarise_folders(None, ...) runs on local threads beside the test's cluster.
    pytest.mark.filterwarnings("ignore:Running on a single-machine scheduler:UserWarning"),
]


@pytest.fixture(scope="module")
def folders(tmp_path_factory):
    root = tmp_path_factory.mktemp("campaign")
    folders = [make_folder(root / "hour{}".format(k), 4096 + 512 * k, 100 + k, k % 2, 0, 512)
               for k in range(8)]
    write_config(folders[5], "samples.txt", 1, 100, 512)  # too few samples: an error row
    return [str(folder) for folder in folders]


@pytest.fixture(scope="module")
def client():
    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                           dashboard_address=None, silence_logs=logging.ERROR)
    with Client(cluster) as client:
        yield client
    cluster.close()


def test_cluster_gives_the_plain_loop_frame(client, folders):
    options = {"detrend": "linear", "band": (2.0, 12.0)}
    loop = pandas.DataFrame([psd.dask.summarise_folder(folder, **options) for folder in folders],
                            columns=["folder", "error", *psd.SUMMARY_COLUMNS])
    frame = psd.dask.summarise_folders(client, folders, **options)
    pandas.testing.assert_frame_equal(frame, loop)
    pandas.testing.assert_frame_equal(psd.dask.summarise_folders(None, folders, **options), loop)
    assert frame["error"].notna().tolist() == [k == 5 for k in range(8)]
    assert frame.loc[5, "error"].startswith("Fatal error: the number of data points is too low.")
    assert frame["rn_ohm"].notna().sum() == 7


def test_spectra_travel_between_workers(client, folders):
    spectra = client.gather(client.map(psd.run, folders[:4]))
    for folder, spectrum in zip(folders, spectra):
        here = psd.run(folder)
        assert np.array_equal(spectrum.psd_v.view(np.uint32), here.psd_v.view(np.uint32))
        assert spectrum.report_path == here.report_path
    # A summary made on a worker from a spectrum made on another.
    rows = client.gather(client.map(psd.summary, client.map(psd.run, folders[:2])))
    assert rows == [psd.summary(psd.run(folder)) for folder in folders[:2]]
