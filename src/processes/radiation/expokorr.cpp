#include "processes/radiation/expokorr.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>

#include "framework/logstream.h"
#include "framework/run_files.h"
#include "framework/storage_file.h"
#include "framework/text_helpers.h"
#include "framework/value_checks.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"
#include "processes/radiation/radiation_kernels.h"

std::string expokorrklasse::NightTemperatureAbsence(int runStepMinutes) const {
  if (!temperature)
    return "The radiation correction makes \"temperature_night\" from the grid \"temperature\" (or "
           "\"temperature_14\"), which this run has none of.";
  std::string text = "The radiation correction makes \"temperature_night\" only with a time interval above 720 "
                     "minutes; its time interval in " + sectionHeader + " of " + ShownControlFile() + " is " +
                     NumberText(timeInterval) + " minutes";
  if (runStepMinutes > 720)
    text += ", but the run steps by " + std::to_string(runStepMinutes) + " minutes: give it the time interval " +
            std::to_string(runStepMinutes);
  return text + ".";
}

expokorrklasse::expokorrklasse(int& error, const ModuleInputs& in)
    : teilmodellklasse(in, "radiation_correction", 1, SectionRequirement::Required) {
  error = 0;
  if (!in.zoneCodeMap || !grids) return;
  try {
    if (flowControl != 0) {
      ReadControlValue(correctionMethod, "methode of correction for ");
      ReadControlValue(temperatureFile, "name of the TKORR-Grid for");
      ReadControlValue(temperatureWriteCode, "Writegrid EXKORR for ");
      ReadControlValue(temperatureScale, "scaling factor for Tkorr for ");
      ReadControlValue(correctionFile, "name of the EXKORR-Grids for");
      ReadControlValue(correctionWriteCode, "Writegrid EXKORR for ");
      ReadControlValue(shadowFile, "name of the SHAPE-Grid for");
      ReadControlValue(shadowWriteCode, "Writegrid SHAPE for ");
      ReadControlValue(skipSteps, "number if timesteps for ");
      ReadControlValue(subSteps, "number of splittings for ");
      CloseControlFile();
      if (correctionMethod < 1 || correctionMethod > 4) {
        *log << "WARNING: method of the radiation correction " << correctionMethod << " in " << ShownControlFile()
             << " is not 1 to 4: the correction runs as method 2 (with shading and temperature correction)"
             << "[end-entry]";
        correctionMethod = 2;
      }
      if (subSteps < 1 || subSteps > 1440) {
        *log << "FATAL: the number of sub-steps (splittings) of the radiation correction in " << ShownControlFile()
             << " must be 1 to 1440, read " << subSteps << "[end-entry]";
        throw 10;
      }
      WarnIf(!(temperatureScale >= 0.0 && temperatureScale <= 10.0), *this, sectionHeader,
             "the scale of the temperature correction", temperatureScale,
             "K: outside the usual 0 .. 10 (a negative scale makes slopes facing the sun colder)");
      if (skipSteps < 1) skipSteps = 1;
      method = correctionMethod;
    }

    int p = FindGrid("temperature");
    if (p == 0) p = FindGrid("temperature_14");
    temperature = p > 0 ? grids[p].data : nullptr;

    // The night temperature of long steps is kept even while the correction is off: the
    // evapotranspiration of daily steps reads it. Without it, a module that needs it is
    // told why.
    if (temperature && timeInterval > 720.0) {
      nightTemperature = NewGrid(geometry.nrows, 0.0);
      nightPosition = Register("$$temperature_night$$", nightTemperature, "temperature_night", 0);
      NoteAbsentGrid(grids, "temperature_night", "");
    } else {
      NoteAbsentGrid(grids, "temperature_night", NightTemperatureAbsence(in.runStepMinutes));
    }
    if (flowControl == 0) return;

    dem = grids[RequireGrid("[elevation_model]")].data;
    aspect = grids[RequireGrid("slope_aspect")].data;
    // The slope serves only the cosine and sine kept here.
    slope = grids[RequireGridWhileBuilt("slope_angle")].data;
    const size_t stride = static_cast<size_t>(geometry.ncols) + 1;
    slopeCosSin.assign((static_cast<size_t>(geometry.nrows) + 1) * stride * 2, 0.0);
    for (int r = 1; r <= geometry.nrows; ++r)
      for (int c = 1; c <= geometry.ncols; ++c) {
        const double s = M_PI * slope[r][c] / 180.0;
        double* k = &slopeCosSin[(static_cast<size_t>(r) * stride + static_cast<size_t>(c)) * 2];
        k[0] = std::cos(s);
        k[1] = std::sin(s);
      }
    slope = nullptr;
    p = FindGrid("sunshine_duration");
    sunshine = p > 0 ? grids[p].data : nullptr;

    correction = NewGrid(geometry.nrows, 0.0);
    correctionPosition = Register(correctionFile, correction, "radiation_correction", correctionWriteCode);
    shadow = NewGrid(geometry.nrows, 0.0);
    shadowPosition = Register(shadowFile, shadow, "Shadow", shadowWriteCode);
    effectiveRadiation = NewGrid(geometry.nrows, 0.0);
    effectivePosition = Register("Ieff_max", effectiveRadiation, "Ieff_max", 0);
    if ((correctionMethod == 2 || correctionMethod == 4) && temperature) {
      correctedTemperature = NewGrid(geometry.nrows, 0.0);
      temperaturePosition = Register(temperatureFile, correctedTemperature, "corr_temperature", temperatureWriteCode);
    }
    // The first step computes; then every skipSteps-th.
    stepCounter = skipSteps;
  } catch (int code) {
    error = code;
  } catch (...) {
    error = 103;
  }
}

expokorrklasse::~expokorrklasse() = default;

void expokorrklasse::ShareScratchGrids() {
  if (flowControl == 0) return;
  // The shading serves the step that casts it; the effective radiation is kept for its
  // readers (the glacier model without an interpolated global radiation).
  size_t slot = 0;
  for (const auto& g : {std::pair<double***, int>{&shadow, shadowPosition}, {&effectiveRadiation, effectivePosition}})
    if (double** shared = ScratchFor(g.second, slot)) {
      ReleaseHeld(owned, *g.first);
      *g.first = shared;
      effectiveShared = effectiveShared || g.first == &effectiveRadiation;
      ++slot;
    }
}

double** expokorrklasse::NewGrid(int rows, double fill) {
  MatrixOwner m(rows, geometry.ncols, log);
  for (int r = 1; r <= rows; ++r)
    for (int c = 0; c <= geometry.ncols; ++c) m[r][c] = zoneGrid && zoneGrid[r][c] == geometry.nodata_value ? geometry.nodata_value : fill;
  owned.push_back(std::move(m));
  return owned.back().get();
}

int expokorrklasse::Register(const std::string& fileName, double** data, const std::string& internalName,
                             int writeCode) {
  const int p = FirstFreeGridPosition();
  if (p < 1) {
    *log << "FATAL: no free grid in memory,(max. " << 1000 << ")!" << "[end-entry]";
    throw 12;
  }
  RegisterGrid(p, fileName, data, nullptr, 0, internalName, writeCode, 1, geometry.nrows);
  return p;
}

double** expokorrklasse::GetCorrection() { return flowControl == 1 ? correction : nullptr; }

bool expokorrklasse::CastsShadows() const {
  return (correctionMethod == 1 || correctionMethod == 2) && instanceCount <= 1 && output.hruMode == 0;
}

bool expokorrklasse::Parallel() const {
  return ForkCells(static_cast<long>(geometry.nrows) * geometry.ncols, minParallelCells);
}

bool expokorrklasse::IsModuleCell(int r, int c) const {
  return zoneGrid && zoneGrid[r][c] != geometry.nodata_value;
}

template <typename Row>
void expokorrklasse::ForModuleRows(bool parallel, Row&& row) {
  if (!zoneGrid) return;
  const int nrows = geometry.nrows;
#pragma omp parallel for schedule(runtime) if (parallel)
  for (int r = 1; r <= nrows; ++r) row(r, zoneGrid[r]);
}

void expokorrklasse::CorrectTemperatureRow(int r) {
  const int ncols = geometry.ncols;
  const double nodata = geometry.nodata_value;
  const double* zone = zoneGrid ? zoneGrid[r] : nullptr;
  const double* t = temperature[r];
  const double* k = correction[r];
  const double* sun = sunshine ? sunshine[r] : nullptr;
  double* out = correctedTemperature[r];
  const bool sunStep = horizontalSum > 0.0, single = subSteps == 1;
  for (int c = 1; c <= ncols; ++c) {
    if (!zone || !(zone[c] != nodata)) {
      out[c] = nodata;
      continue;
    }
    out[c] = ExposureTemperature(t[c], k[c], temperatureScale, sun ? sun[c] : 0.5, sunStep, relativeSunHeight, single);
  }
}

void expokorrklasse::CorrectTemperature() {
  if (!correctedTemperature || !temperature) return;
  const int nrows = geometry.nrows;
#pragma omp parallel for schedule(runtime) if (Parallel())
  for (int r = 1; r <= nrows; ++r) CorrectTemperatureRow(r);
}

void expokorrklasse::Run(ModelDate date) {
  Step(date);
  if (flowControl != 0 && skipSteps > 1 && computed && !stepDate.IsMissing() && stepDate.Key() >= endDateKey)
    WriteRhythm();
}

void expokorrklasse::Step(ModelDate date) {
  const int nrows = geometry.nrows, ncols = geometry.ncols;
  if (nightTemperature && temperature) {
#pragma omp parallel for schedule(runtime) if (Parallel())
    for (int r = 1; r <= nrows; ++r)
      for (int c = 1; c <= ncols; ++c)
        if (IsModuleCell(r, c)) nightTemperature[r][c] = temperature[r][c];
  }
  if (flowControl == 0) return;

  if (stepCounter < skipSteps) {
    ++stepCounter;
    stepDate = date;  // the grid writers date the corrected temperature by it
    // Between two computations the factor stays, but the temperature follows the air's.
    if (computed) CorrectTemperature();
    if (temperaturePosition > 0) WriteGrids(temperaturePosition, 1, false);
    return;
  }
  stepCounter = 1;
  BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year);

  // The day the step lies in: midnight written 0 h is the last step of the day before.
  const ModelDate& calendar = calendarStamp;
  const int month = static_cast<int>(calendar.month);
  double tr = 0.0, ts = 0.0;
  SunriseSunset(calendar.day, month, tr, ts, latitude, longitude);
  tr = std::fmod(tr + 24.0, 24.0);
  ts = std::fmod(ts + 24.0, 24.0);
  double noonAzimuth = 0.0, noonElevation = 0.0;
  SunPosition(calendar.day, month, noonAzimuth, noonElevation, latitude, longitude, (tr + ts) / 2.0);

  const double t0 = minToIntEndHours + static_cast<double>(calendar.hour) + static_cast<double>(calendar.minute) / 60.0;
  const double span = timeInterval / 60.0;
  const double delta = span / subSteps;
  const double tEnd = t0 + 0.01 + hourOffset;
  const double nodata = geometry.nodata_value;
  const bool shading = CastsShadows();
  const bool parallel = Parallel();
  double h = 0.0;
  relativeSunHeight = 0.0;
  // The factor is summed over the lit sub-steps: it is cleared before the first of them
  // (a step without sun sets it at the end). The shading is cleared only where the last
  // sub-step cast shadows or the step has not cleared it yet: every sub-step writes it out
  // as it stands, and between steps it may serve others as scratch.
  bool sumCleared = false, shadowCleared = false;
  const double tFirst = t0 - span * (1.0 - 0.5 / subSteps) + hourOffset;
  for (int m = 0; m < subSteps && tFirst + m * delta < tEnd; ++m) {
    const double t = tFirst + m * delta;
    // Sub-steps of a step that began the day before are compared with that day's light.
    const double tDay = t - 24.0 * std::floor(t / 24.0);
    const SubStepLight light = SubStepDarkness(tDay, delta, tr, ts);
    double azimuth = 0.0, zenith = M_PI / 2.0, radiation = 0.0, horizontal = 0.0;
    relativeSunHeight = 0.0;
    if (!light.night) {
      double elevation = 0.0;
      SunPosition(calendar.day, month, azimuth, elevation, latitude, longitude,
                  t + delta / 2.0 * (light.light - 1.0) + light.darkBefore);
      zenith = M_PI / 2.0 - elevation;
      const double ratio = noonElevation > 0.0 ? elevation / noonElevation : 0.0;
      relativeSunHeight = ratio > 0.0 ? std::sqrt(ratio) : 0.0;
      radiation = SubStepRadiation(delta, light.light, zenith);
      if (radiation > 0.0) {
        horizontal = radiation * std::cos(zenith);
      } else {
        azimuth = 0.0;
        relativeSunHeight = 0.0;
      }
    }
    h += horizontal;
    const bool lit = radiation > 0.0;

    if (!shadowCleared) {
      ForModuleRows(parallel, [&](int r, const double* zone) {
        double* s = shadow[r];
        for (int c = 1; c <= geometry.ncols; ++c)
          if (zone[c] != nodata) s[c] = 0.0;
      });
      shadowCleared = true;
    }
    if (lit && shading) {
      CastShadows(dem, zoneGrid, nodata, nrows, ncols, geometry.cellsize, azimuth, M_PI / 2.0 - zenith, shadow,
                  parallel);
      shadowCleared = false;
    }

    if (lit) {
      const double cosZ = std::cos(zenith), sinZ = std::sin(zenith);
      const size_t stride = static_cast<size_t>(ncols) + 1;
      const bool clear = !sumCleared;
      ForModuleRows(parallel, [&](int r, const double* zone) {
        const double* s = shadow[r];
        const double* a = aspect[r];
        const double* sun = sunshine ? sunshine[r] : nullptr;
        const double* k = &slopeCosSin[static_cast<size_t>(r) * stride * 2];
        double* sum = correction[r];
        for (int c = 1; c <= ncols; ++c) {
          if (!(zone[c] != nodata)) continue;
          if (clear) sum[c] = 0.0;
          if (s[c] >= 0.5) continue;
          const double ci = CosIncidence(k[2 * c], k[2 * c + 1], a[c], cosZ, sinZ, azimuth);
          sum[c] += DirectWeight(ci, cosZ, sun ? sun[c] : -1.0) * radiation;
        }
      });
      sumCleared = true;
    }
    WriteGrids(shadowPosition, 1, false);
  }
  horizontalSum = h;
  computed = true;

  // The sums become the effective radiation and the factor, and the temperature follows,
  // row by row in one pass.
  const bool correctTemperature = correctedTemperature && temperature;
  ForModuleRows(parallel, [&](int r, const double* zone) {
    double* k = correction[r];
    double* e = effectiveRadiation[r];
    for (int c = 1; c <= ncols; ++c) {
      if (!(zone[c] != nodata)) continue;
      if (!sumCleared) k[c] = 0.0;
      e[c] = k[c];
      k[c] = h > 0.0 ? k[c] / h : 0.0;
    }
    if (correctTemperature) CorrectTemperatureRow(r);
  });
  if (!zoneGrid) CorrectTemperature();
  WriteGrids(correctionPosition, 1, false);
  if (temperaturePosition > 0) WriteGrids(temperaturePosition, 1, false);
}

void expokorrklasse::DeleteModule() {
  for (int p : {nightPosition, temperaturePosition, shadowPosition, correctionPosition, effectivePosition})
    if (p > 0) FreeGrid(p);
  nightPosition = temperaturePosition = shadowPosition = correctionPosition = effectivePosition = 0;
  owned.clear();
  slopeCosSin.clear();
  slopeCosSin.shrink_to_fit();
  correction = shadow = effectiveRadiation = correctedTemperature = nightTemperature = nullptr;
  modelobject::DeleteModule();
}

// --- the rhythm across a warm start --------------------------------------------------------

std::string RhythmStateName(const std::string& correctionFile) { return correctionFile + "_End"; }

std::string RhythmBesideStorageFile(const std::string& correctionFile, const std::string& storageName) {
  if (storageName.empty()) return RhythmStateName(correctionFile);
  namespace fs = std::filesystem;
  const std::string name = fs::path(RhythmStateName(correctionFile)).filename().string();
  const fs::path folder = fs::path(storageName).parent_path();
  return folder.empty() ? name : (folder / name).string();
}

namespace {
constexpr int kFactorLevel = 0, kEffectiveLevel = 1, kCountLevel = 2, kHorizontalLevel = 3, kSunHeightLevel = 4;
}

void expokorrklasse::WriteRhythm() {
  const double nodata = geometry.nodata_value;
  HeldStack stack(*this);
  stack.levels = d3_matrix(1, geometry.nrows, 1, geometry.ncols, kSunHeightLevel);
  stack.top = kSunHeightLevel;
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) {
      double* l = stack.levels[r][c];
      const bool cell = IsModuleCell(r, c);
      l[kFactorLevel] = cell ? correction[r][c] : nodata;
      l[kEffectiveLevel] = cell && !effectiveShared ? effectiveRadiation[r][c] : nodata;
      l[kCountLevel] = cell ? stepCounter : nodata;
      l[kHorizontalLevel] = cell ? horizontalSum : nodata;
      l[kSunHeightLevel] = cell ? relativeSunHeight : nodata;
    }
  // A module alone (no run built it) keeps it beside the correction grid's name.
  WriteStateStack(rhythmFile.empty() ? RhythmStateName(correctionFile) : rhythmFile, stack);
}

void expokorrklasse::ContinueRhythm(bool warmStart, const std::string& storageName) {
  if (flowControl == 0 || skipSteps <= 1 || !zoneGrid) return;
  rhythmFile = RhythmBesideStorageFile(correctionFile, storageName);
  const std::string storagePath = storageName.empty() ? std::string() : MakePath(output.initialStateDirectory, storageName);
  // Written at the end, over the file read by a chain in place.
  const void* read = warmStart ? ReadRhythm(storagePath) : nullptr;
  if (!warmStart && !storagePath.empty())
    NoteStateGridNotRead(MakePath(output.initialStateDirectory, rhythmFile),
                         "the radiation correction's rhythm: read with the storage file, by the read flag 1 or 2 of "
                         "[soil_model]");
  RunFiles::Current().Write(sectionHeader + " the state of its rhythm", MakePath(output.outputDirectory, rhythmFile),
                            RunFiles::When::EndOnly, read);
}

std::string expokorrklasse::RhythmToRead(const std::string& storagePath) const {
  namespace fs = std::filesystem;
  // Beside the storage file read, under the run's prefix: where the run that wrote it put it.
  const std::string own = storagePath.empty() ? rhythmFile : MakePath(output.initialStateDirectory, rhythmFile);
  const std::shared_ptr<const std::string> text =
      storagePath.empty() ? nullptr : StorageFile::ReadText(storage, storagePath, log);
  EndStateRecord record;
  std::error_code ec;
  if (!text || ReadEndStateRecord(*text, record, nullptr) != 1 || fs::exists(own, ec)) return own;
  // A record of an older layout lists it elsewhere (beside the correction grid's name): read
  // where the record has it, and name it so when it is missing.
  const std::string name = fs::path(rhythmFile).filename().string();
  for (const EndStateRecord::File& f : record.files) {
    const std::string recorded = fs::path(f.name).filename().string();
    if (recorded.size() >= name.size() && recorded.compare(recorded.size() - name.size(), name.size(), name) == 0)
      return (fs::path(storagePath).parent_path() / f.name).string();
  }
  return own;
}

const void* expokorrklasse::ReadRhythm(const std::string& storagePath) {
  const std::string file = RhythmToRead(storagePath);
  const std::string path = MakePath(output.inputDirectory, file);
  HeldStack held(*this);
  if (!ReadStateStack(file, "state of the radiation correction",
                      " (its factors and the steps since it computed them, kept by a run that computes every " +
                          OrdinalText(skipSteps) + " step)",
                      "the radiation correction computes its factors at the first step and every " +
                          OrdinalText(skipSteps) + " step after it",
                      held))
    return nullptr;
  double*** const stack = held.levels;
  const int levels = held.top;
  const void* key = stack;  // the state ReadStack ties the file to
  if (levels != kSunHeightLevel) {
    *log << "FATAL: " << path << " holds " << levels + 1 << " levels; the state of the radiation correction is a "
         << "stack of " << kSunHeightLevel + 1 << " (0: the factor, 1: Ieff_max, 2: the steps since they were "
         << "computed, 3: the horizontal radiation of that step, 4: its relative sun height)" << "[end-entry]";
    throw 22;
  }
  RefuseImpossibleLevels(stack, kFactorLevel, kSunHeightLevel, file, "state of the radiation correction",
                         StateRange::Finite());
  // The rhythm is one for the basin: the first cell's, and every other cell's the same.
  const double nodata = geometry.nodata_value;
  const double* first = nullptr;
  for (int r = 1; r <= geometry.nrows; ++r)
    for (int c = 1; c <= geometry.ncols; ++c) {
      if (!IsModuleCell(r, c)) continue;
      const double* l = stack[r][c];
      if (!first) first = l;
      const double count = l[kCountLevel];
      const bool whole = count >= 1.0 && count <= 1e9 && count == std::floor(count);
      const bool same = l[kCountLevel] == first[kCountLevel] && l[kHorizontalLevel] == first[kHorizontalLevel] &&
                        l[kSunHeightLevel] == first[kSunHeightLevel];
      if (!whole || !same || !(l[kHorizontalLevel] >= 0.0) || !(l[kSunHeightLevel] >= 0.0)) {
        *log << "FATAL: " << path << " holds at row " << r << ", column " << c << " the count " << count
             << ", the horizontal radiation " << l[kHorizontalLevel] << " and the relative sun height "
             << l[kSunHeightLevel] << " (levels 2 to 4), where the radiation correction keeps the steps since it "
             << "computed its factors (a whole number from 1), and that step's radiation and sun height (0 or more), "
             << "the same in every cell of the basin" << "[end-entry]";
        throw 22;
      }
      correction[r][c] = l[kFactorLevel];
      if (!effectiveShared && l[kEffectiveLevel] > nodata) effectiveRadiation[r][c] = l[kEffectiveLevel];
    }
  if (!first) return key;
  stepCounter = static_cast<int>(std::min<double>(first[kCountLevel], skipSteps));
  horizontalSum = first[kHorizontalLevel];
  relativeSunHeight = first[kSunHeightLevel];
  computed = true;
  return key;
}
