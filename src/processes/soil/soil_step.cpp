// The soil model's time step: a parallel loop over fixed blocks of rows that steps the cells
// (physics only) and adds them, in row order, to the block's sub-basin and zone sums (so the
// results are the same for every thread count), then the sub-basin balance, the runoff
// record and the statistics.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "framework/logstream.h"
#include "framework/thread_policy.h"
#include "processes/soil/bodenmod.h"

// A cell whose capillary exchange failed, for the report after the loop.
struct bodenmodellklasse::CapillaryFailure {
  int column = 0;
  double sspNew = 0.0, flow = 0.0, SSP = 0.0, nFK = 0.0, SB = 0.0, SD = 0.0;
};

void bodenmodellklasse::Run(ModelDate date) {
  if (flowControl == 0) return;
  BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year);
  ShiftTravelTimeZones();
  StepCells();
  FoldSums();
  FoldStorageSums();
  StepSubbasins();
  WriteStepStatistics();
}

void bodenmodellklasse::ShiftTravelTimeZones() {
  for (int i = 1; i <= subbasins; ++i) {
    auto& zones = zoneFZT[static_cast<size_t>(i)];
    const int mz = maxzeit[static_cast<size_t>(i)];
    for (int k = 1; k < mz; ++k) {
      zones[static_cast<size_t>(k)].n = zones[static_cast<size_t>(k) + 1].n;
      zones[static_cast<size_t>(k)].sx = zones[static_cast<size_t>(k) + 1].sx;
      zones[static_cast<size_t>(k)].RelCellSum = zones[static_cast<size_t>(k) + 1].RelCellSum;
    }
    zones[static_cast<size_t>(mz)].n = 0.0;
    zones[static_cast<size_t>(mz)].sx = 0.0;
    zones[static_cast<size_t>(mz)].RelCellSum = 0.0;
  }
}

template <bool kInfiltrate>
void bodenmodellklasse::StepRow(int r, ZoneSums::Row& excess, CapillaryFailure& failure, double* sums) {
  const double nodata = geometry.nodata_value;
  const bool slow = method == 2;
  const bool excessSummed = kInfiltrate && stepInfiltration.excessSummed;
  const double macropores = stepInfiltration.macroporeFraction;
  const SubbasinCodes codes = Codes();
  const SubbasinParameters* const parameters = params.data();
  const double* const deficits = meanDeficit.data();
  // The row of each grid, taken once for all its cells (null: no such grid).
  const auto row = [r](double** g) { return g ? g[r] : nullptr; };
  const double* const zone = soilZoneGrid[r];
  const double* const lakeRow = row(lakeCodes);
  const double* const soillessRow = glaciers.SoillessRow(r);
  const double* const capacity = availableSoilMoisture[r];
  const double* const conductivityRow = conductivity[r];
  const double* const offset = topographicOffset[r];
  const double* const snow = row(snowSolid);
  const double* const weights = row(relCellArea);
  const double* const times = row(flowTimes);
  double* const input = row(waterInput);
  double* const excessRow = row(infiltrationExcess);
  double* const marker = kInfiltrate ? saturationMarker[r] : nullptr;
  double* const fillable = kInfiltrate ? stepInfiltration.fillablePorosity[r] : nullptr;
  double* const SB = soilStorage[r];
  double* const SBia = inactiveSoilMoisture[r];
  double* const nFKia = inactiveFieldCapacity[r];
  double* const SSP = saturatedSoilPartition[r];
  double* const SBold = soilStorageOld[r];
  double* const SUZ = unsaturatedZone[r];
  double* const SIF = interflowStorage[r];
  double* const SD = saturationDeficit[r];
  double* const QD = directFlow[r];
  double* const peak = peakFlow[r];
  double* const QI = interflowGrid[r];
  double* const drainage = cellDrainage[r];
  double* const slowInflow = cellSlowInflow[r];
  double* const stabilityRow = slopeStability ? stabilityIndex[r] : nullptr;
  int first, last;
  ColumnRange(r, first, last);
  for (int c = first; c <= last; ++c) {
    const int i = codes.Of(zone[c]);
    if (i <= 0) continue;
    const double w = weights ? weights[c] : 1.0;
    const size_t travelZone = times ? static_cast<size_t>(times[c]) : 1;
    const bool lake = lakeRow && lakeRow[c] > nodata;
    const bool glacier = GlacierCells::Soilless(soillessRow, c);
    if (lake || glacier) {
      // Water on a glacier or lake cell goes to the glacier or the lake, not into a soil.
      if (kInfiltrate) {
        excessRow[c] = marker[c] = 0.0;
        if (excessSummed) excess.InZone(c, i).Add(0, 0.0);
      }
      if (excessRow) excessRow[c] = 0.0;
      QD[c] = peak[c] = QI[c] = 0.0;
      SD[c] = SUZ[c] = SIF[c] = 0.0;
      if (stabilityRow) stabilityRow[c] = 0.0;
      SB[c] = nFKia[c] = SBia[c] = SBold[c] = SSP[c] = 1.0;
      drainage[c] = slowInflow[c] = 0.0;
      // The saturated zone below exchanges nothing in the step: its part of the mean
      // deficit stays (its grid value 0 is what the cell shows).
      if (sums) AddCellSums(sums, i, w, travelZone, deficits[i] - offset[c], 0.0, 0.0, 0.0, 0.0);
      continue;
    }
    const SoilTableEntry* soil = SoilRowOf(r, c);
    const double porosity = soil ? soil->mSBFCapDifference : 0.0;
    const double rootDepth = RootDepthOf(r, c);
    const double nFK = std::max(0.0, capacity[c]);
    const double K = conductivityRow[c] > nodata ? conductivityRow[c] : 0.0;
    if (kInfiltrate) {
      // The infiltration sees the state the previous step left.
      const double f = soilcell::FreePoreFraction(SUZ[c], SD[c], porosity, SB[c], nFK, rootDepth);
      fillable[c] = f;
      const double P = input && input[c] > nodata ? input[c] : 0.0;
      double left = P;
      excessRow[c] = soilcell::Infiltration(P, K, f, soil ? soil->suction : 300.0, macropores, marker[c], left);
      if (input && input[c] > nodata) input[c] = left;
      if (excessSummed) excess.InZone(c, i).Add(0, excessRow[c]);
    }
    SoilCellState s;
    s.SB = SB[c];
    s.SBia = SBia[c];
    s.nFKia = nFKia[c];
    s.SSP = SSP[c];
    s.SBold = SBold[c];
    s.SUZ = SUZ[c];
    s.SIF = SIF[c];
    s.SD = deficits[i] - offset[c];

    SoilCellInputs in;
    in.water = input ? input[c] : 0.0;
    if (!(in.water > nodata)) in.water = 0.0;
    in.snowSolid = snow ? snow[c] : -1.0;
    in.infiltrationExcess = excessRow ? excessRow[c] : 0.0;
    in.nFK = nFK;
    in.rootDepth = rootDepth;
    in.porosity = porosity;
    in.conductivity = K;
    in.slowBaseflow = slow;
    SoilCellOutputs out;
    soilcell::Step(s, in, parameters[i], out);
    if (out.capillaryFailed) {
      if (failure.column == 0) failure = {c, out.sspNew, out.capillaryFlow, s.SSP, in.nFK, s.SB, s.SD};
      continue;
    }
    if (input) input[c] = out.waterLeft;
    SB[c] = s.SB;
    SBia[c] = s.SBia;
    nFKia[c] = s.nFKia;
    SSP[c] = s.SSP;
    SBold[c] = s.SBold;
    SUZ[c] = s.SUZ;
    SIF[c] = s.SIF;
    SD[c] = s.SD;
    QD[c] = out.QD;
    peak[c] = std::max(peak[c], out.QD);
    QI[c] = out.QI;
    drainage[c] = out.QSUZ;
    slowInflow[c] = out.QBBin;
    if (stabilityRow)
      stabilityRow[c] = soilcell::StabilityIndex(stability[4][r][c], stability[2][r][c],
                                                 stability[0][r][c] + stability[1][r][c], stability[3][r][c],
                                                 stability[5][r][c], s.SD, in.porosity);
    if (sums) AddCellSums(sums, i, w, travelZone, s.SD, out.QI, out.QBBin, out.QSUZ, out.QD);
  }
}

void bodenmodellklasse::StepCells() {
  const int nrows = geometry.nrows;
  std::vector<CapillaryFailure> failures(static_cast<size_t>(nrows) + 1);
  PrepareSums();
  PrepareStorageSums();
  ZoneSums* excessSums = stepInfiltration.on ? stepInfiltration.excessSums : nullptr;
  // The cells are added to the sums as they are done, unless the sums had to be laid out in
  // one block (they would then leave the loop to one thread) or the zone sums walk other
  // blocks.
  storageSumsAdded = sumBlocks > 1 && (!excessSums || SameBlocks(*excessSums)) &&
                     (!storageSummed || SameBlocks(cellSums));
  if (storageSumsAdded) {
#pragma omp parallel for schedule(runtime) if (ForkRows(nrows, geometry.ncols))
    for (int b = 0; b < sumBlocks; ++b) {
      double* sums = blockSums.data() + static_cast<size_t>(b) * sumStride;
      const int r0 = 1 + b * sumRowsPerBlock, r1 = std::min(nrows, (b + 1) * sumRowsPerBlock);
      for (int r = r0; r <= r1; ++r) {
        ZoneSums::Row excess = excessSums ? excessSums->RowOf(b, r) : ZoneSums::Row();
        if (excessSums)
          StepRow<true>(r, excess, failures[static_cast<size_t>(r)], sums);
        else
          StepRow<false>(r, excess, failures[static_cast<size_t>(r)], sums);
        if (storageSummed) AddStorageRow(b, r);
      }
    }
  } else {
    if (excessSums) {
#pragma omp parallel for schedule(runtime) if (ForkRows(nrows, geometry.ncols))
      for (int b = 0; b < excessSums->Blocks(); ++b)
        for (int r = excessSums->FirstRow(b); r <= excessSums->LastRow(b); ++r) {
          ZoneSums::Row excess = excessSums->RowOf(b, r);
          StepRow<true>(r, excess, failures[static_cast<size_t>(r)], nullptr);
        }
    } else {
#pragma omp parallel for schedule(runtime) if (ForkRows(nrows, geometry.ncols))
      for (int r = 1; r <= nrows; ++r) {
        ZoneSums::Row none;
        StepRow<false>(r, none, failures[static_cast<size_t>(r)], nullptr);
      }
    }
    const double nodata = geometry.nodata_value;
#pragma omp parallel for schedule(runtime) if (ForkRows(nrows, geometry.ncols))
    for (int b = 0; b < sumBlocks; ++b) {
      double* sums = blockSums.data() + static_cast<size_t>(b) * sumStride;
      const int r0 = 1 + b * sumRowsPerBlock, r1 = std::min(nrows, (b + 1) * sumRowsPerBlock);
      for (int r = r0; r <= r1; ++r) {
        int first, last;
        ColumnRange(r, first, last);
        for (int c = first; c <= last; ++c) {
          const int i = SubbasinOf(r, c);
          if (i <= 0) continue;
          const double w = CellWeight(r, c);
          const size_t zone = flowTimes ? static_cast<size_t>(flowTimes[r][c]) : 1;
          if ((lakeCodes && lakeCodes[r][c] > nodata) || glaciers.Soilless(r, c))
            AddCellSums(sums, i, w, zone, meanDeficit[static_cast<size_t>(i)] - topographicOffset[r][c], 0.0, 0.0,
                        0.0, 0.0);
          else
            AddCellSums(sums, i, w, zone, saturationDeficit[r][c], interflowGrid[r][c], cellSlowInflow[r][c],
                        cellDrainage[r][c], directFlow[r][c]);
        }
      }
    }
  }
  CellLoopDone();

  for (int r = 1; r <= nrows; ++r) {
    const CapillaryFailure& f = failures[static_cast<size_t>(r)];
    if (f.column == 0) continue;
    const int c = f.column;
    *log << "FATAL: Fehler bei Kapillarflow in Zelle " << r << "," << c << "\n" << "dump: SSPneu = " << f.sspNew
         << ", kapillarflow = " << f.flow << "\n      SSP[" << r << "][" << c << "] = " << f.SSP << ", nFK[" << r
         << "][" << c << "] = " << f.nFK << "\n      SB[" << r << "][" << c << "]  = " << f.SB << ", SD[" << r << "]["
         << c << "] = " << f.SD << "\n(capillary rise failed in cell row " << r << ", column " << c
         << ": the saturated share SSP of the soil is 1 already and would still grow)" << "[end-entry]";
    char text[512];
    std::snprintf(text, sizeof text,
                  "\nFehler bei Kapillarflow in Zelle %d, %d\ndump: SSPneu = %lf, kapillarflow = %lf \n      "
                  "SSP[%d][%d] = %lf, nFK[%d][%d] = %lf\n      SB[%d][%d]  = %lf, SD[%d][%d] = %lf\n\n",
                  r, c, f.sspNew, f.flow, r, c, f.SSP, r, c, f.nFK, r, c, f.SB, r, c, f.SD);
    AppendModelLog(text);
    throw 55;
  }
}

// The sub-basin and travel-time zone sums of the step are formed over fixed blocks of rows:
// each block sums its cells in row and column order, the block sums are added in block
// order, so the sums are the same for every thread count.
void bodenmodellklasse::PrepareSums() {
  const size_t n1 = static_cast<size_t>(subbasins) + 1;
  zoneOffset.assign(n1 + 1, 0);
  for (size_t i = 1; i < n1; ++i) zoneOffset[i + 1] = zoneOffset[i] + zoneFZT[i].size();
  subbasinPart = n1 * 12;
  sumStride = subbasinPart + zoneOffset[n1] * 3;
  const int nrows = geometry.nrows;
  sumBlocks = std::max(1, std::min(64, nrows));
  if (static_cast<double>(sumBlocks) * static_cast<double>(sumStride) > 16.0e6) sumBlocks = 1;  // keeps the memory bounded
  sumRowsPerBlock = (nrows + sumBlocks - 1) / sumBlocks;
  blockSums.assign(static_cast<size_t>(sumBlocks) * sumStride, 0.0);
}

bool bodenmodellklasse::SameBlocks(const ZoneSums& sums) const {
  const int nrows = geometry.nrows;
  if (sums.Blocks() > sumBlocks) return false;
  for (int b = 0; b < sums.Blocks(); ++b)
    if (sums.FirstRow(b) != 1 + b * sumRowsPerBlock || sums.LastRow(b) != std::min(nrows, (b + 1) * sumRowsPerBlock))
      return false;
  return true;
}

void bodenmodellklasse::FoldSums() {
  const size_t n1 = static_cast<size_t>(subbasins) + 1;
  deficitSums.assign(n1, SubbasinSums());
  interflowSums.assign(n1, SubbasinSums());
  slowInflowSums.assign(n1, SubbasinSums());
  drainageSums.assign(n1, SubbasinSums());
  for (int k : {5, 6, 7})
    if (statistics[k]) statistics[k]->ClearZoneSums();
  SubbasinSums* sums[4] = {deficitSums.data(), interflowSums.data(), slowInflowSums.data(), drainageSums.data()};
  for (int b = 0; b < sumBlocks; ++b) {
    const double* P = blockSums.data() + static_cast<size_t>(b) * sumStride;
    for (size_t i = 1; i < n1; ++i) {
      for (int k = 0; k < 4; ++k) {
        const double* s3 = P + (i * 4 + static_cast<size_t>(k)) * 3;
        sums[k][i].count += s3[0];
        sums[k][i].sum += s3[1];
        sums[k][i].weight += s3[2];
      }
      auto& zones = zoneFZT[i];
      for (size_t z = 1; z < zones.size(); ++z) {
        const double* z3 = P + subbasinPart + (zoneOffset[i] + z) * 3;
        zones[z].sx += z3[0];
        zones[z].RelCellSum += z3[1];
        zones[z].n += z3[2];
      }
    }
  }
}

// The zone sums of the three storages' writers (framework/zone_sums.h), added row by row
// after the cells' steps.
void bodenmodellklasse::PrepareStorageSums() {
  double** const grids[3] = {soilStorage, unsaturatedZone, interflowStorage};
  storageSummed = false;
  for (int k = 0; k < 3; ++k) {
    const bool on = statistics[5 + k] && statistics[5 + k]->Active() && grids[k];
    storageTables[k] = on ? statisticsZones[5 + k].data() : nullptr;
    storageSummed = storageSummed || on;
  }
  if (!storageSummed) return;
  ZoneCells cells;
  cells.zone = soilZoneGrid;
  cells.nodata = geometry.nodata_value;
  cells.codeMap = codeMapStore.data();
  cells.maxCode = largestCode;
  cells.firstRow = 1;
  cells.lastRow = geometry.nrows;
  cells.ncols = geometry.ncols;
  cells.rowBounds = rowBounds.size() > static_cast<size_t>(geometry.nrows) ? &rowBounds : nullptr;
  cellSums.Prepare(cells, relCellArea, geometry.nrows, geometry.ncols, 3, subbasins, 1, geometry.nrows,
                   storageTables);
}

void bodenmodellklasse::AddStorageRow(int b, int r) {
  const double* const rows[3] = {storageTables[0] ? soilStorage[r] : nullptr,
                                 storageTables[1] ? unsaturatedZone[r] : nullptr,
                                 storageTables[2] ? interflowStorage[r] : nullptr};
  cellSums.AddRow(b, r, [&](int c, const ZoneSums::Cell& cell) {
    for (int k = 0; k < 3; ++k)
      if (rows[k]) cell.AddValue(k, rows[k][c]);
  });
}

void bodenmodellklasse::FoldStorageSums() {
  if (!storageSummed) return;
  if (!storageSumsAdded) {
    const int blocks = cellSums.Blocks();
#pragma omp parallel for schedule(runtime) if (ForkRows(geometry.nrows, geometry.ncols))
    for (int b = 0; b < blocks; ++b)
      for (int r = cellSums.FirstRow(b); r <= cellSums.LastRow(b); ++r) AddStorageRow(b, r);
  }
  cellSums.Fold(storageTables);
}

void bodenmodellklasse::StepSubbasins() {
  for (int i = 1; i <= subbasins; ++i) {
    const size_t ii = static_cast<size_t>(i);
    const SubbasinParameters& p = params[ii];
    const TravelTimeZoneRecord& z1 = zoneFZT[ii][1];
    const double inflow = z1.RelCellSum > 0.0 ? z1.sx / z1.RelCellSum : 0.0;
    QD[ii] = soilcell::LinearStorage(QD[ii], inflow, std::exp(-timeInterval / p.kQD));
    QI[ii] = interflowSums[ii].Mean();
    QV[ii] = drainageSums[ii].Mean();
    QB[ii] = Q0[ii] * std::exp(-meanDeficit[ii] / p.m);
    if (method == 2) {
      QBBin[ii] = slowInflowSums[ii].Mean();
      QBB[ii] = soilcell::LinearStorage(QBB[ii], QBBin[ii], std::exp(-timeInterval / p.kQBB));
    } else {
      QBB[ii] = QBBin[ii] = 0.0;
    }
    meanDeficit[ii] = deficitSums[ii].Mean() + QB[ii] - QV[ii] + QBBin[ii];
    // In a glacier sub-basin the record holds the glacier storages' outflow of this step
    // already: the runoff of the cells the soil model steps (the glacier-free ones, weighted
    // by their share of the sub-basin) adds to it.
    const double soilRunoff = QD[ii] + QI[ii] + QB[ii] + QBB[ii];
    runoffTable[0][i] = FilledBySnow(i) ? runoffTable[0][i] + soilRunoff : soilRunoff;
  }
}

void bodenmodellklasse::WriteStepStatistics() {
  for (int k : {0, 1, 2, 3, 4, 8})
    if (statistics[k]) statistics[k]->ClearZoneSums();
  for (int i = 1; i <= subbasins; ++i) {
    const size_t ii = static_cast<size_t>(i);
    const double values[9] = {QD[ii], QI[ii] + QB[ii] + QBB[ii], QB[ii] + QBB[ii], QBB[ii], runoffTable[0][i],
                              0.0,    0.0,                       0.0,              meanDeficit[ii]};
    for (int k : {0, 1, 2, 3, 4, 8})
      if (statistics[k]) statistics[k]->AddCellValue(0, 0, i, values[k], 1.0);
  }
  for (auto& s : statistics)
    if (s) s->AggregateAndWrite(stepYear, stepMonth, stepDay, stepHour, stepMinute);

  for (int k : {1, 2, 5, 0, 7, 8, 3, 4}) {
    const int position = ownGridPositions[static_cast<size_t>(k)];
    WriteGrids(position, 1, false);
  }
}
