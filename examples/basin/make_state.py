#!/usr/bin/env python3
"""Makes the start state of the example basin by a spin-up run.

Usage: make_state.py <orvelvco64>
       (writes the state grids and the storage file soil_state.txt here)

The station files hold January 1985 only, so the spin-up runs that same month once: a copy
of this folder runs basin.ctl from empty snow and interception storages and the soil
model's initial values, with every state grid written at the end of the run (write code 3)
and nothing read from an earlier state. Its end state (the snow storages, snow-covered
days and snow age, the interception storage, the soil model's grids, the soil storage and
albedo variable grids, and the storage file with the soil model's and routing's parts)
is copied here, from where basin.ctl reads it at its start.
Plain Python, no other module needed.
"""
import os
import shutil
import subprocess
import sys
import tempfile

# Grids of the module sections: the file name, its write code on the next line.
MODULE_GRIDS = ["snowdays.asc", "snowage.asc", "snowsolid.asc", "snowliquid.asc", "snowtotal.asc",
                "interception_storage.asc", "sd.asc", "suz.asc", "sif.asc", "sbia.asc", "nfkia.asc", "ssp.asc"]
# Variable grids: the file name, its write code and read flag on the next two lines.
VARIABLE_GRIDS = ["soil_storage.asc", "albedo.asc"]
# The read flags of the snow, interception and soil models.
READ_FLAGS = ["# readgrids", "# read the state grids and the storage file"]
STORAGE_FILE = "soil_state.txt"
INPUTS = ["basin.ctl", "zones.asc", "dem.asc", "landuse.asc", "snow_swe.asc", "snow_assim.txt",
          "temperature.dat", "precipitation.dat"]


def set_first_word(lines, i, word):
    rest = lines[i].split(None, 1)
    lines[i] = word + ("       " + rest[1] if len(rest) > 1 else "")


def spinup_control(text):
    lines = text.split("\n")
    for i, line in enumerate(lines):
        first = line.split()[0] if line.split() else ""
        if first in MODULE_GRIDS:
            set_first_word(lines, i + 1, "3")
        elif first in VARIABLE_GRIDS:
            set_first_word(lines, i + 1, "3")
            set_first_word(lines, i + 2, "0")
        elif any(marker in line for marker in READ_FLAGS):
            set_first_word(lines, i, "0")
    return "\n".join(lines)


def main(program):
    here = os.path.dirname(os.path.abspath(__file__))
    work = tempfile.mkdtemp(prefix="orvel-spinup-")
    try:
        for f in INPUTS:
            shutil.copy(os.path.join(here, f), work)
        with open(os.path.join(here, "basin.ctl")) as f:
            control = spinup_control(f.read())
        with open(os.path.join(work, "basin.ctl"), "w") as f:
            f.write(control)
        os.mkdir(os.path.join(work, "output"))
        run = subprocess.run([os.path.abspath(program), "basin.ctl", "-diagfile:output/diag.xml"], cwd=work,
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if run.returncode != 0:
            sys.exit(run.stdout[-3000:] + "\nthe spin-up run failed with exit status %d" % run.returncode)
        out = os.path.join(work, "output")
        # The grids by their names, a layer's grid by the name with "_Layer_<k>".
        grids = MODULE_GRIDS + VARIABLE_GRIDS
        written = [f for f in os.listdir(out) if f == STORAGE_FILE or f in grids or
                   (f.endswith(".asc") and any(f.startswith(g[:-4] + "_Layer_") for g in grids))]
        for f in sorted(written):
            shutil.copy(os.path.join(out, f), os.path.join(here, f))
            print(f)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
