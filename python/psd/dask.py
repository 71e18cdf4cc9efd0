"""Many records at once with Dask: psd.run and psd.summary mapped over folders.

Each folder is run as ``psd FOLDER`` would run it (nothing is written) and
summarised as ``psd-summary --csv`` would summarise its report; the rows come
back as one pandas DataFrame, a row per folder in the order given::

    from dask.distributed import Client
    import psd.dask
    frame = psd.dask.summarise_folders(Client("scheduler:8786"), folders,
                                       detrend="linear")
    frame[["folder", "rn_ohm", "rsn0_ohm"]]

The workers import psd and read the folders themselves, so every worker needs
the package and the same view of the files (a shared file system).
"""

import os

import dask.bag
import pandas

import psd

__all__ = ["summarise_folder", "summarise_folders"]


def summarise_folder(folder, **options):
    """One folder's row: "folder", "error" (psd's message when the run or
    the summary failed, else None), then psd-summary's CSV columns."""
    row = {"folder": os.fspath(folder), "error": None}
    try:
        row.update(psd.summary(psd.run(folder), **options))
    except psd.Error as error:
        row["error"] = str(error)
    return row


def summarise_folders(client, folders, **options):
    """The rows of summarise_folder for every folder, as a DataFrame.

    client: a distributed.Client (a LocalCluster's or a real cluster's), or
    None for Dask's local threads, which run at once as psd lets the
    interpreter's lock go while it reads and transforms. options: those of
    psd.summary. A folder that fails has its message in "error" and empty
    figures; the others are still summarised.
    """
    folders = [os.fspath(folder) for folder in folders]
    bag = dask.bag.from_sequence(folders, partition_size=1)
    rows = bag.map(summarise_folder, **options)
    if client is None:
        result = rows.compute(scheduler="threads")
    else:
        result = client.compute(rows).result()
    return _frame_of(result)


def _frame_of(rows):
    """Rows of summarise_folder as a DataFrame with every column, in order,
    even when every folder failed."""
    columns = ["folder", "error"] + list(psd.SUMMARY_COLUMNS)
    return pandas.DataFrame(list(rows), columns=columns)
