// The potential step: radiation geometry of the step, the parallel cell loop (radiation,
// sunshine, day and night temperatures, the method's potential amounts per layer, each
// row's zone sums), then the statistics rows and the grid output on one thread.
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "processes/evapotranspiration/etpetr.h"
#include "processes/evapotranspiration/et_kernels.h"
#include "tables/landuse_table.h"
#include "tables/multilayer_table.h"

namespace {

bool Valid(double v, double nodata) { return v > nodata; }

}  // namespace

void verdunstungsmodellklasse::PotentialET(ModelDate date) {
  if (flowControl == 0) return;
  BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year, "pot. evaptranspir.");
  // The day the step lies in: midnight written 0 h is the last step of the day before.
  const ModelDate& calendar = calendarStamp;
  const int month = static_cast<int>(std::clamp<int64_t>(calendar.month, 1, 12));
  const int day = static_cast<int>(calendar.day);
  int dayOfYear = day;
  for (int m = 1; m < month; ++m) dayOfYear += daysPerMonth[m - 1];

  for (size_t k = 0; k < potTranspirationStat.size(); ++k) {
    potTranspirationStat[k]->ClearZoneSums();
    potInterceptionStat[k]->ClearZoneSums();
  }
  potEvaporationStat->ClearZoneSums();
  radiationStat->ClearZoneSums();
  cloudinessStat->ClearZoneSums();

  DaylightFraction();
  const double ld = daylightPart;
  const double dtHours = timeInterval / 60.0;

  // Clear-sky geometry: the sun's cosine at the middle of each daylight sub-step.
  std::fill(cosZenith.begin(), cosZenith.end(), 0.0);
  int subSteps = 0;
  double subStepHours = 0.0, tau = 0.0;
  const bool radiationMethod = method == 1 || method == 3;
  if (radiationMethod && !(sunshine && radiation)) {
    const double wanted = std::ceil(dtHours * ld - 0.001);
    subSteps = static_cast<int>(std::clamp(wanted, 0.0, static_cast<double>(cosZenith.size()) - 2.0));
    if (subSteps > 0) subStepHours = dtHours * ld / subSteps;
    for (int m = 1; m <= subSteps; ++m) {
      const double t = static_cast<double>(calendar.hour) + minToIntEndHours - dtHours + nightBeforeSunrise +
                       subStepHours * (m - 0.5);
      double azimuth = 0.0, elevation = 0.0;
      SunPosition(calendar.day, month, azimuth, elevation, latitude, longitude, t);
      cosZenith[m] = std::cos(M_PI / 2.0 - elevation);
    }
    tau = section.transmissivityA +
          section.transmissivityB * std::cos(2.0 * M_PI * (day + 30.5 * (month - 1) + 10.0) / 365.0);
  }

  // Relative sunshine of short steps is summed over the daylight steps of a day.
  if (timeInterval < 720.0) {
    if (ld <= 0.05) {
      if (!nightState) {
        const double divisor = dayStepCount < 1 ? 0.5 : static_cast<double>(dayStepCount);
#pragma omp parallel for schedule(runtime) if (ForkCells(static_cast<long>(geometry.nrows) * geometry.ncols, minParallelCells))
        for (int r = 1; r <= geometry.nrows; ++r)
          for (int c = 1; c <= geometry.ncols; ++c)
            if (IsBasinCell(r, c)) sunshineSum[r][c] /= divisor;
        nightState = true;
      }
    } else if (nightState) {
#pragma omp parallel for schedule(runtime) if (ForkCells(static_cast<long>(geometry.nrows) * geometry.ncols, minParallelCells))
      for (int r = 1; r <= geometry.nrows; ++r)
        for (int c = 1; c <= geometry.ncols; ++c)
          if (IsBasinCell(r, c)) sunshineSum[r][c] = 0.0;
      dayStepCount = 1;
      nightState = false;
    } else {
      ++dayStepCount;
    }
  }

  double mDay = 0.0, wAnnual = 0.0;
  if (method == 1 && timeInterval > 720.0) {
    const int dom = daysPerMonth[month - 1];
    mDay = MonthlyValue(section.amplitude.data(), month, day, dom, -15.5, 15.0);
    wAnnual = section.annualVariation * std::cos(2.0 * M_PI * dayOfYear / 365.0);
  }

  PotentialCellLoop(dayOfYear, mDay, wAnnual, tau, subSteps, subStepHours);
  PotentialStatistics();
}

void verdunstungsmodellklasse::PotentialCellLoop(int /*dayOfYear*/, double mDay, double wAnnual, double tau,
                                                 int subSteps, double subStepHours) {
  const double nodata = geometry.nodata_value;
  const int nrows = geometry.nrows, ncols = geometry.ncols, n = layers;
  const double ld = daylightPart, ln = nightPart, dt = timeInterval;
  const int month = static_cast<int>(std::clamp<int64_t>(calendarStamp.month, 1, 12));
  const int day = static_cast<int>(calendarStamp.day);
  const bool radiationMethod = method == 1 || method == 3;
  const bool lakes = lakeCodes && ponding;

  RadiationSettings rs;
  std::copy(section.c, section.c + 4, rs.c);
  std::copy(section.cs, section.cs + 4, rs.cs);
  rs.x0 = section.x0;
  rs.haveSunshine = sunshine != nullptr;
  rs.haveRadiation = radiation != nullptr;
  const double maxRadiation = 1260.0 * (dt / 60.0) * ld;
  const int middle = subSteps / 2 + 1;
  const bool clearSkyNeeded = radiationMethod && !(rs.haveSunshine && rs.haveRadiation) && subSteps > 0 &&
                              cosZenith[static_cast<size_t>(middle)] > 0.017;

  PmSettings pm;
  pm.dtMinutes = dt;
  pm.c0 = section.c[0];
  pm.netRadiationInput = netRadiation;
  pm.arcVeg = arcVeg;
  pm.layers = n;
  const double pecToday = MonthlyValue(section.pec.data(), month, day, daysPerMonth[month - 1], -15.0, 16.0);
  const double fhToday = section.fh[static_cast<size_t>(month)];

  // The inputs the loop overwrites keep, per cell, what they held before.
  const bool keepRadiation = radiationMethod && radiation && radiationCorrection;
  const bool keepTemperatures = method == 1 && dt > 720.0;
  const size_t stride = static_cast<size_t>(ncols) + 1, cells = (static_cast<size_t>(nrows) + 1) * stride;
  if (keepRadiation && keptRadiation.size() != cells) keptRadiation.assign(cells, KeptInput{});
  if (keepTemperatures && keptDayTemperature.size() != cells) {
    keptDayTemperature.assign(cells, KeptInput{});
    keptNightTemperature.assign(cells, KeptInput{});
  }

  // Blocks of rows in parallel; each row's statistics are summed as soon as it is done.
  potentialSums.Prepare(StatisticsCells(), relCellArea, nrows, ncols, 2 * n + 5, zoneCount, 1, nrows,
                        potentialTables.data());
  const int blocks = potentialSums.Blocks();
#pragma omp parallel for schedule(runtime) if (ForkCells(static_cast<long>(nrows) * ncols, minParallelCells))
  for (int b = 0; b < blocks; ++b) {
    // The thread's caches of the layers' functions of their land-use parameters (1..N); a
    // cache gives what the call would, so any module and step may use it.
    static thread_local std::vector<PmLayerCache> caches;
    if (caches.size() < static_cast<size_t>(n) + 1) caches.resize(static_cast<size_t>(n) + 1);
    for (int r = potentialSums.FirstRow(b); r <= potentialSums.LastRow(b); ++r) {
      for (int c = 1; c <= ncols; ++c) {
        if (!IsBasinCell(r, c)) {
          for (int k = 0; k <= n; ++k) potTranspiration[k][r][c] = potInterception[k][r][c] = nodata;
          potEvaporation[r][c] = nodata;
          continue;
        }
        const size_t at = static_cast<size_t>(r) * stride + static_cast<size_t>(c);
        const double t = keepTemperatures ? CurrentInput(temperature[r][c], keptDayTemperature[at]) : temperature[r][c];
        const double z = dem[r][c];
        const bool openWaterCell = lakes && lakeCodes[r][c] > 0.0 && ponding[r][c] > 0.0;

        // The pressure from the elevation at temperature t, once the clear sky needed it.
        double pressureAtT = -1.0;
        // Radiation and sunshine.
        double relative = 0.0, rg = 0.0, shortwave = 0.0, s;
        double alpha = albedo ? albedo[r][c] : 0.0;
        if (openWaterCell) alpha = albedoOpenWater;
        if (radiationMethod) {
          double clearSky = 0.0;
          if (clearSkyNeeded) {
            const double p = airPressure ? airPressure[r][c] : BarometricPressure(z, t);
            if (!airPressure) pressureAtT = p;
            for (int m = 1; m <= subSteps; ++m) {
              const double cz = cosZenith[static_cast<size_t>(m)];
              // Sub-steps with the sun at or below the horizon bring no direct radiation.
              if (cz > 0.0) clearSky += 1367.0 * std::pow(tau, (p / 1013.0) / cz) * cz * subStepHours;
            }
          }
          const double k = radiationCorrection ? radiationCorrection[r][c] : -1.0;
          double input = radiation ? radiation[r][c] : 0.0;
          if (keepRadiation) input = CurrentInput(input, keptRadiation[at]);
          const RadiationResult rad =
              CellRadiation(rs, clearSky, sunshine ? sunshine[r][c] : 0.0, input, k, maxRadiation);
          if (keepRadiation) {
            // The modules after this one read the corrected radiation.
            keptRadiation[at] = KeptInput{input, rad.correctedInput};
            radiation[r][c] = rad.correctedInput;
          }
          s = rad.sunshine;
          rg = rad.rg;
          relative = rad.relative;
          correctedRadiation[r][c] = rg;
          sunshineSum[r][c] += s;
          shortwave = (1.0 - alpha) * rg;
          cloudiness[r][c] = rad.cloudiness;
        } else {
          correctedRadiation[r][c] = 0.0;
          s = sunshineSum[r][c];
          cloudiness[r][c] = 0.5;
        }
        potEvaporation[r][c] = 0.0;
        realEvaporation[r][c] = 0.0;
        snowEvaporation[r][c] = 0.0;

        if (method == 1) {
          double tDay = t, tNight = t;
          if (keepTemperatures) {
            // The night grid is refreshed by a copy of the temperature grid: a copy of the day
            // value written the step before is no input either.
            KeptInput& keptDay = keptDayTemperature[at];
            KeptInput& keptNight = keptNightTemperature[at];
            const double night = CurrentInput(nightTemperature[r][c], keptNight, keptDay.written);
            const double a = relative * mDay * std::exp(-z / section.elevationScale);
            tDay = t + a * (section.dayFraction + wAnnual);
            tNight = night - a * ((1.0 - section.dayFraction) - wAnnual);
            keptDay = KeptInput{t, tDay};
            keptNight = KeptInput{night, tNight};
            // The modules after this one read the temperatures of the parts.
            temperature[r][c] = tDay;
            nightTemperature[r][c] = tNight;
          }
          potTranspiration[0][r][c] = potInterception[0][r][c] = realTranspiration[0][r][c] = 0.0;
          PmCarry carry;
          carry.sunshine = s;
          carry.shortwave = shortwave;
          PmWeather w;
          w.elevation = z;
          w.vapourPressure = vapourPressure ? vapourPressure[r][c] : -1.0;
          w.humidity = humidity ? humidity[r][c] : 0.0;
          w.wind = wind[r][c];
          w.netRadiation = netRadiation ? radiation[r][c] : 0.0;
          // The parts of the step, shared by the layers of the cell; made for its first layer
          // with a land use.
          const bool nightUsed = ln >= 0.01, dayUsed = ld >= 0.01;
          PmPart nightPart, dayPart;
          const auto makeParts = [&]() {
            const auto air = [&](double tp) {
              w.t = tp;
              // The clear sky's pressure serves a part at its temperature.
              w.pressure = airPressure ? airPressure[r][c] : (SameBits(tp, t) ? pressureAtT : -1.0);
              return PenmanMonteithAir(w);
            };
            PmAir nightAir;
            if (nightUsed) {
              nightAir = air(tNight);
              w.share = ln;
              w.day = false;
              nightPart = PenmanMonteithPart(pm, w, nightAir, carry);
            }
            if (dayUsed) {
              // Day and night at one temperature (steps up to half a day) share their air.
              const PmAir dayAir = nightUsed && SameBits(tDay, tNight) ? nightAir : air(tDay);
              w.share = ld;
              w.day = true;
              dayPart = PenmanMonteithPart(pm, w, dayAir, carry);
            }
          };
          bool anyLayerAbove = false;
          for (int k = 1; k <= n; ++k) {
            if (!Valid(landuse[k][r][c], nodata)) {
              potTranspiration[k][r][c] = potInterception[k][r][c] = 0.0;
              continue;
            }
            if (k > 1 && Valid(lai[k - 1][r][c], nodata)) carry.laiAbove += lai[k - 1][r][c];
            PmLayer layer;
            // A cell whose upper layers have no land use gets the sky on its first used layer.
            layer.top = !anyLayerAbove;
            if (!anyLayerAbove) makeParts();
            anyLayerAbove = true;
            layer.lai = lai[k][r][c];
            layer.cover = cover[k][r][c];
            layer.canopyResistance = canopyResistance[k][r][c];
            layer.z0 = roughness[k][r][c];
            layer.interceptionResistance = interceptionResistance[k][r][c];
            layer.soilResistance = soilResistance[r][c];
            layer.lowest = n == 1 || k == n || !Valid(lai[k + 1] ? lai[k + 1][r][c] : nodata, nodata) || arcVeg;
            layer.openWater = lakes && !arcVeg && layer.lowest && lakeCodes[r][c] > 0.0 && ponding[r][c] > 0.0;
            if (layer.openWater) layer.z0 = z0OpenWater;
            if (n >= 2 && !arcVeg && landuse[0] && multiLayerTable) {
              const double row = landuse[0][r][c];
              if (row >= 1.0 && row < static_cast<double>(multiLayerTable->size())) {
                const MultiLayerLanduseEntry& e = (*multiLayerTable)[static_cast<size_t>(row)];
                layer.extinction = e.k_extinct;
                layer.laiScale = e.LAI_scale;
              }
            }
            PmResult night, dayResult;
            if (nightUsed || dayUsed) {
              PmLayerCache& cache = caches[static_cast<size_t>(k)];
              const PmLayerTerms terms = PenmanMonteithLayer(pm, layer, w.wind, carry, &cache);
              if (nightUsed) night = PenmanMonteithLayerPart(nightPart, terms, carry, &cache);
              if (dayUsed) dayResult = PenmanMonteithLayerPart(dayPart, terms, carry, &cache);
            }
            const double f = arcVeg ? arcVegFraction[k][r][c] : 1.0;
            const double et = std::max(0.0, (night.transpiration + dayResult.transpiration) * f);
            const double ei = std::max(0.0, (night.interception + dayResult.interception) * f);
            potTranspiration[k][r][c] = et;
            potInterception[k][r][c] = ei;
            potEvaporation[r][c] += (night.soil + dayResult.soil) * f;
            realTranspiration[k][r][c] = 0.0;
            potTranspiration[0][r][c] += et;
            potInterception[0][r][c] += ei;
          }
          potTranspiration[0][r][c] += potEvaporation[r][c];
          continue;
        }

        // Hamon, Wendling, Haude: one layer.
        double e = 0.0;
        const double vegetation = std::clamp(cover[1][r][c], 0.0, 1.0);
        if (method == 2) {
          e = HamonEvaporation(pecToday, ld, t, dt);
          double factor = 1.0;
          const double row = landuse[1][r][c];
          if (landuseTable && row >= 1.0 && row < static_cast<double>(landuseTable->size()))
            factor = (*landuseTable)[static_cast<size_t>(row)].GetETPHamonFactor();
          if (factor == 1.0 && lakeFlowControl == 1 && ponding && ponding[r][c] > 5.0 && lakeCodes &&
              lakeCodes[r][c] != nodata)
            e *= section.hamonOpenWater;
          else
            e *= factor;
        } else if (method == 3) {
          e = WendlingEvaporation(rg, alpha, section.fk, t, dt);
        } else {
          e = HaudeEvaporation(t, vapourPressure ? vapourPressure[r][c] : -1.0, humidity ? humidity[r][c] : 0.0, fhToday,
                               dt);
        }
        e = std::max(e, 0.0);
        potEvaporation[r][c] = (1.0 - vegetation) * e;
        for (int k = 0; k <= 1; ++k) {
          potTranspiration[k][r][c] = e;
          potInterception[k][r][c] = e;
          realTranspiration[k][r][c] = 0.0;
        }
      }
      AddPotentialRow(b, r);
    }
  }
}

void verdunstungsmodellklasse::AddPotentialRow(int b, int r) {
  // Writers: potential transpiration and interception of layer k at 2k and 2k + 1, then
  // potential evaporation, radiation and cloudiness.
  const double nodata = geometry.nodata_value;
  const int n = layers;
  potentialSums.AddRow(b, r, [&](int c, const ZoneSums::Cell& cell) {
    for (int k = 1; k <= n; ++k) {
      const bool used = Valid(landuse[k][r][c], nodata);
      cell.AddValue(2 * k, used ? potTranspiration[k][r][c] : 0.0);
      cell.AddValue(2 * k + 1, used ? potInterception[k][r][c] : 0.0);
    }
    cell.AddValue(0, potTranspiration[0][r][c]);
    cell.AddValue(1, potInterception[0][r][c]);
    cell.AddValue(2 * n + 2, potEvaporation[r][c]);
    cell.AddValue(2 * n + 3, correctedRadiation[r][c]);
    cell.AddValue(2 * n + 4, cloudiness[r][c]);
  });
}

void verdunstungsmodellklasse::PotentialStatistics() {
  // The cell loop summed the zones of every writer; they go to the writers' tables here.
  potentialSums.Fold(potentialTables.data());
  const ModelDate& d = stepDate;
  for (int k = 0; k <= layers; ++k) {
    potTranspirationStat[k]->AggregateAndWrite(d.year, d.month, d.day, d.hour, d.minute);
    potInterceptionStat[k]->AggregateAndWrite(d.year, d.month, d.day, d.hour, d.minute);
    WriteGrids(potTranspirationPos[k], 1, false);
    WriteGrids(potInterceptionPos[k], 1, false);
  }
  potEvaporationStat->AggregateAndWrite(d.year, d.month, d.day, d.hour, d.minute);
  WriteGrids(potEvaporationPos, 1, false);
  radiationStat->AggregateAndWrite(d.year, d.month, d.day, d.hour, d.minute);
  cloudinessStat->AggregateAndWrite(d.year, d.month, d.day, d.hour, d.minute);
}
