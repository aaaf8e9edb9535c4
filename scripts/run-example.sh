#!/usr/bin/env bash
# Builds the model and runs the example basin; its outputs land in examples/basin/output.
set -euo pipefail
cd "$(dirname "$0")/.."
# ORVEL_JOBS sets how many compilers (and test programs) run at once; every core by default.
jobs=${ORVEL_JOBS:-$(nproc 2>/dev/null || echo 2)}
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs" --target orvelvco64
if [ -f examples/basin/basin.ctl ]; then
  cd examples/basin
  mkdir -p output
  ../../build/orvelvco64 basin.ctl -diagfile:output/Orvel_Diag.xml
  # The outlet hydrographs, when routing ran: the picture of the README.
  # matplotlib comes from the distribution's package (python3-matplotlib).
  py=/usr/bin/python3
  [ -x "$py" ] || py=python3
  if [ -s output/discharge.stat ] && "$py" -c "import matplotlib" 2>/dev/null; then
    "$py" ../../scripts/plot_hydrograph.py output/discharge.stat hydrograph.png \
      "Huerfano example: routed discharge at the sub-basin outlets" \
      "5=outlet at Gardner, the reservoir's release" && echo "hydrograph: examples/basin/hydrograph.png"
  fi
  echo "outputs: examples/basin/output (diagnostics: examples/basin/output/Orvel_Diag.xml);"
  echo "         beside basin.ctl: its preprocessed copy basin.ctl.intern and the module log modell_0.log"
else
  ./build/orvelvco64 || true
fi
