#include <cmath>

#include "framework/append_file.h"
#include "framework/date_text.h"
#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "framework/timeseries_table.h"
#include "processes/subbasin_runoff.h"
#include "routing/abfluss.h"
#include "routing/routingclass.h"

void abflussmodellklasse::CopyInputToSubintervals() {
  const int zones = subbasinCount + totals.zl;
  for (int s = 1; s <= subint; ++s)
    for (int z = 1; z <= zones; ++z) subRunoff[s][z] = input[z];
}

void abflussmodellklasse::InitRouting() {
  if (flowControl == 0) return;
  const int zones = subbasinCount + totals.zl;
  for (int i = 1; i <= subbasinCount; ++i) input[i] = subbasinRunoff ? subbasinRunoff->table[0][i] : 0.0;
  for (int z = subbasinCount + 1; z <= zones; ++z) input[z] = 0.0;
  const std::vector<double>* row = window.empty() ? nullptr : &window[10];
  for (routingclass* o : routingObjects) o->ComputeFlowArrays(input.data(), subRunoff.get(), row, observedColumn.data());
  CopyInputToSubintervals();

  *log << "checking connection of internal inflows and abstractions" << "[end-entry]";
  ConnectInternalAbstractions(routingObjects, log);

  for (routingclass* o : routingObjects) o->RouteInitialDischarge();
  long travelHours = 0;
  for (const routingclass* o : routingObjects) travelHours += o->MaxTravelHours();
  if (readInitialStates) return;

  const long times = std::max(1L, static_cast<long>(std::ceil(travelHours / timeInterval * 60.0)));
  *log << "routing the initialization discharges (" << times << " times)";
  savedInput.assign(input.begin(), input.begin() + zones + 1);
  const StepDate initDate{0, static_cast<int>(startDate.month), static_cast<int>(startDate.day),
                          static_cast<int>(startDate.hour), 0};
  for (long k = 0; k < times; ++k) {
    std::copy(savedInput.begin(), savedInput.end(), input.begin());
    CopyInputToSubintervals();
    for (routingclass* o : routingObjects) o->Route(initDate, 0, 1);
    *log << ".";
  }
  // The inflow zones too: the first step receives nothing made from start-up discharges.
  std::copy(savedInput.begin(), savedInput.end(), input.begin());
  *log << "[end-entry]";
  savedInput = {};
}

double abflussmodellklasse::Discharge(int zone, double depth) const {
  // m³/s over the area upstream of the sub-basin's outlet.
  const double k = cellCounts[0] * cellCounts[zone] * 16.6666667;
  const double factor = objectOf[zone] > 0 ? routingObjects[objectOf[zone] - 1]->areaFactor : 1.0;
  return k / timeInterval * depth / factor;
}

void abflussmodellklasse::RunTimeStep(ModelDate date, int, int) {
  stepHour = date.hour;
  stepDay = date.day;
  stepMonth = date.month;
  stepYear = date.year;
  std::string message;
  if (routing.routingOnly && date.day != lastMessageDay) {
    message = "routing only for day " + DateText(date, kIsoDate.Until(DateField::kDay));
    lastMessageDay = date.day;
  }
  if (flowControl == 0) return;
  BeginTimeStep(date.minute, date.hour, date.day, date.month, date.year, nullptr,
                message.empty() ? nullptr : (" " + message).c_str());

  for (int i = 1; i <= subbasinCount; ++i) input[i] = subbasinRunoff->table[0][i] / stepRatio;
  for (routingclass* o : routingObjects) o->ReadInflows(date);
  CopyInputToSubintervals();
  FillPrecipitationOnLakes();
  const StepDate stepDate{static_cast<int>(date.year), static_cast<int>(date.month), static_cast<int>(date.day),
                          static_cast<int>(date.hour), static_cast<int>(date.minute)};
  for (routingclass* o : routingObjects) o->Route(stepDate, 1, 1);

  if (observed) CompareObservedDischarge();

  if (statistics) {
    statistics->ClearZoneSums();
    for (int i = 1; i <= subbasinCount; ++i) {
      ZoneTableEntry& e = statisticsZones[static_cast<size_t>(i)];
      e.areaSum += 1.0;
      WeightedAreaSum(e) += 1.0;
      ValueSum(e) += unitCode == 1 ? Discharge(i, input[i]) : input[i];
    }
    statistics->AggregateAndWriteRouting(date.year, date.month, date.day, date.hour, date.minute);
  }
}

void abflussmodellklasse::WriteStatistics() {
  if (flowControl == 0) return;
  WriteEach each;  // a file that cannot be written costs no other file its rows
  if (statistics) each([&] { statistics->WriteRow(); });
  for (routingclass* o : routingObjects) each([&] { o->FlushOutputFiles(); });
  each.Raise();
}

void abflussmodellklasse::DeleteModule() {
  if (flowControl != 0) {
    // Only a run that started routing leaves a state for the next one.
    if (runFlag) WriteStorageFile();
    // Every output is written, also after one of them failed.
    WriteEach each;
    if (observed && statistics && runFlag) {
      std::vector<EfficiencyRecord*> lin, lg;
      for (int s = 0; s < kObservedWindowRows; ++s) {
        lin.push_back(linearSums[static_cast<size_t>(s)].data());
        lg.push_back(logSums[static_cast<size_t>(s)].data());
      }
      each([&] { statistics->WriteEfficiency(lin.data(), lg.data()); });
    }
    observed.reset();
    if (statistics) statistics->Release();
    statistics.reset();
    for (routingclass* o : routingObjects) {
      each([&] { o->DeleteModule(); });
      delete o;
    }
    routingObjects.clear();
    ReleaseLakeGrids();
    modelobject::DeleteModule();
    each.Raise();
    return;
  }
  modelobject::DeleteModule();
}
