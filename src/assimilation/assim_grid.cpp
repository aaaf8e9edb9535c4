#include "assimilation/assim_grid.h"

#include "assimilation/assim_lists.h"
#include "framework/control_keys.h"
#include "framework/date_text.h"
#include "framework/logstream.h"
#include "framework/zonalstatistic.h"
#include "framework/option_text.h"
#include "framework/run_files.h"
#include "framework/thread_policy.h"
#include "grids/grid_path.h"
#include "grids/grid_registry.h"

namespace assim {

void AssimilateSnowCell(double total, double defaultLiquidPercent, bool weighing, double glacierFraction,
                        SnowCell& cell) {
  SplitSnowTotal(total, defaultLiquidPercent, cell.liquid, cell.solid);
  if (!weighing) return;
  SplitSnowTotal(total, defaultLiquidPercent, cell.glacierLiquid, cell.glacierSolid);
  cell.glacierTotal = total;
  if (glacierFraction >= 1.0) {
    cell.liquid = 0.0;
    cell.solid = 0.0;
  } else if (glacierFraction <= 0.0) {
    cell.glacierTotal = 0.0;
    cell.glacierLiquid = 0.0;
    cell.glacierSolid = 0.0;
  }
}

bool IsSnowStorageGrid(const std::string& name) {
  for (const char* n : {"snowstorage_liquid", "snowstorage_solid", "snow_storage_total", "TotalSnowStorage_onGlacier",
                        "SolidSnowStorage_onGlacier", "LiquidSnowStorage_onGlacier"})
    if (name == n) return true;
  return false;
}

}  // namespace assim

data_assimilation_grid_entity::data_assimilation_grid_entity(data_assimilation& m, const std::string& text)
    : data_assimilation_entity(m, "grid", text) {
  GetKeyValueString(ruleText, "grid-ID", gridName);
  gridIndex = module.FindGrid(gridName);
  if (gridIndex <= 0)
    Fail("entity " + gridName + " not available as grid in the actual model configuration\n" + kAssimilationRule,
         1210);
  target = grids[gridIndex].data;
  GetKeyValueString(ruleText, "listfilename", listFileName);
  ReportUnknownKeys(module.log, "[data_assimilation]", "the grid rule of " + gridName, ruleText,
                    {"grid-ID", "listfilename", "options", "split-into-liquid-and-solid",
                     "weighing-by-glacierized-fraction", "default-liquid-percentage"},
                    false);

  const size_t at = ruleText.find("options");
  if (at != std::string::npos) {
    std::string rest = ruleText.substr(at), options;
    GetBracedText(rest, options);
    std::string word;
    if (GetKeyValueString(options, "split-into-liquid-and-solid", word)) split = word == "true";
    word.clear();
    if (GetKeyValueString(options, "weighing-by-glacierized-fraction", word)) weighing = word == "true";
    if (split) {
      GetKeyValueDouble(options, "default-liquid-percentage", defaultLiquidPercent);
      word.clear();
      if (GetKeyValueString(options, "default-liquid-percentage", word) && !ParseDouble(word, defaultLiquidPercent))
        Fail("default-liquid-percentage \"" + word + "\" for entity " + gridName + " is not a number\n" +
                 kAssimilationRule,
             1213);
      if (!(defaultLiquidPercent >= 0.0 && defaultLiquidPercent <= 100.0))
        Fail("default-liquid-percentage " + FormatText("%g", defaultLiquidPercent) + " for entity " + gridName +
                 " must lie between 0 and 100\n" + kAssimilationRule,
             1213);
    }
  }
  if (split) {
    liquid = Require("snowstorage_liquid", 1211, false);
    solid = Require("snowstorage_solid", 1212, false);
  }
  if (weighing) {
    glacierTotal = Require("TotalSnowStorage_onGlacier", 1214, true);
    glacierSolid = Require("SolidSnowStorage_onGlacier", 1215, true);
    glacierLiquid = Require("LiquidSnowStorage_onGlacier", 1216, true);
    glacierFraction = Require("GlacierizedCells", 1214, true);
  }

  if (assim::IsSnowStorageGrid(gridName)) {
    const int l = module.FindGrid("snowstorage_liquid"), s = module.FindGrid("snowstorage_solid");
    if (l > 0 && s > 0) {
      snowLiquid = grids[l].data;
      snowSolid = grids[s].data;
    }
  }

  if (!OpenList())
    Fail("error opening input list file " + listFileName + " for grid-type data assimilation in entity " +
             gridName + "\n" + kAssimilationRule,
         1200);
  pendingValid = SkipListHeader(listFile);
  std::vector<ListRecord> records;
  const long unread = pendingValid ? ScanListRecords(listFile, false, records) : 0;
  CheckListRecords(records, unread);
  // The listed grids are read during the run: the check of the run's files learns them now.
  RunFiles& files = RunFiles::Current();
  for (const ListRecord& r : records)
    files.Read("[data_assimilation] grid of the list file " + listFileName,
               MakePath(module.output.inputDirectory, r.gridFile));
  if (pendingValid) ReadNextRecord();
  while (pendingValid && pendingTime < startTime) ReadNextRecord();
}

double** data_assimilation_grid_entity::Require(const std::string& name, int code, bool glacierHint) {
  const int p = module.FindGrid(name);
  if (p <= 0)
    Fail("entity " + name + " not available as grid in the actual model configuration\n" +
             (glacierHint ? "set \"weighing-by-glacierized-fraction\" to false when glacier model is inactive \n"
                          : "") +
             kAssimilationRule,
         code);
  return grids[p].data;
}

void data_assimilation_grid_entity::ReadNextRecord() {
  do {
    if (!pendingValid) return;
    pendingValid = ReadPendingDate(false) && listFile.ReadWord(pendingFile);
    if (!pendingValid) return;
    SkipRecordRemark(listFile);
    pendingTime = CalendarSeconds(pending.year, pending.month, pending.day, pending.hour);
  } while (NextRecordInPendingHour(false));
}

void data_assimilation_grid_entity::Apply(ModelDate date) {
  SkipRecordsBeforeStep(date);
  if (!PendingAt(date)) return;
  if (snowLiquid) module.BookSnowWater(snowLiquid, snowSolid, -1.0);
  {
    // A grid file that cannot be opened is named with the record that lists it.
    const ReadFlagScope listed(module,
                               "the record of line " + std::to_string(PendingLine()) + " of " + listFileName +
                                   ", a grid rule of [data_assimilation]",
                               "give the grid file, or take the record out of the list");
    module.ReadBasinGrid(pendingFile, target, 0, false, false, false, geometry.nodata_value);
  }
  ZoneRuns::GridsRewritten();  // the target may be a zone or region grid
  grids[gridIndex].data = target;
  // Snow storages cannot be negative: such a grid is refused, not applied.
  if (split || assim::IsSnowStorageGrid(gridName)) module.RefuseNegativeCells(target, pendingFile, gridName);
  if (split) SplitCells();
  if (snowLiquid) module.BookSnowWater(snowLiquid, snowSolid, 1.0);
  *log << "data assimilation: " << gridName << " replaced by " << pendingFile << " at "
       << DateText(date, kRecordDate.Until(DateField::kHour)) << " h" << "[end-entry]";
  ReadNextRecord();
}

void data_assimilation_grid_entity::SplitCells() {
  const double nodata = geometry.nodata_value;
#pragma omp parallel for schedule(runtime) if (ForkRows(lastRow - firstRow + 1, geometry.ncols))
  for (int r = firstRow; r <= lastRow; ++r) {
    for (int c = module.FirstColumn(r); c <= module.LastColumn(r); ++c) {
      if (!module.InDomain(r, c)) continue;
      const double total = target[r][c];
      if (total <= nodata) continue;  // no observation in this cell
      assim::SnowCell cell;
      cell.liquid = liquid[r][c];
      cell.solid = solid[r][c];
      double g = 0.0;
      if (weighing) {
        cell.glacierLiquid = glacierLiquid[r][c];
        cell.glacierSolid = glacierSolid[r][c];
        cell.glacierTotal = glacierTotal[r][c];
        g = glacierFraction[r][c];
      }
      assim::AssimilateSnowCell(total, defaultLiquidPercent, weighing, g, cell);
      liquid[r][c] = cell.liquid;
      solid[r][c] = cell.solid;
      if (weighing) {
        glacierLiquid[r][c] = cell.glacierLiquid;
        glacierSolid[r][c] = cell.glacierSolid;
        glacierTotal[r][c] = cell.glacierTotal;
      }
    }
  }
}
