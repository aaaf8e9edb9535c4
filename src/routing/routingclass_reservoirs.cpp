#include "framework/logstream.h"
#include "routing/abstraction.h"
#include "routing/routingclass.h"

void routingclass::SetSpeicherParams(int reservoirCode, const std::string& entry) {
  ReservoirContext context = setup.reservoirs;
  context.subbasin = code;
  context.zone = ownZone;
  auto sp = std::make_unique<SP_class>();
  sp->SetParameters(context);
  sp->ReadParameters(reservoirCode, entry);
  sp->InitLake();
  sp->WriteOutputHeader();
  if (sp->lake) {
    sp->SumLakeCellTracers();
    sp->UpdateLakeLevel(sp->state[0]);
  }
  reservoirs.push_back(std::move(sp));
}

void routingclass::ReadReservoirRules(TextCursor& controlFile) {
  for (auto& sp : reservoirs) sp->ReadAbstractionRules(controlFile);
}

void routingclass::AttachReservoirRegistry(ReservoirRegistry* registry) {
  for (auto& sp : reservoirs) sp->AttachRegistry(registry);
}

void routingclass::AttachReservoirIndex(std::map<int, int>* zones) {
  reservoirZones = zones;
  if (!reservoirs.empty()) reservoirs.back()->AttachIndex(zones);
}

bool routingclass::Bypassed(int zone) const {
  if (!reservoirZones) return false;
  auto it = reservoirZones->find(zone);
  return it != reservoirZones->end() && it->second != 0;
}

void routingclass::RunReservoirs() {
  std::vector<AL_class*> none;
  for (auto& sp : reservoirs) {
    sp->Qout = sp->TimeStep(none, StepDate{}, 0.0, dt, setup.timeOffsetHours);
    if (60.0 * dt * sp->Qout > sp->state[0]) sp->Qout = sp->state[0] / 60.0 / dt;
  }
}

void routingclass::SetLinks(double** first, double** second) {
  linkFirst = first;
  linkSecond = second;
}

double routingclass::LastReservoirDepth() const {
  return DischargeToDepth(reservoirs.back()->state[0] / dt / 60.0, OutletArea());
}

void routingclass::LinkLastReservoir() {
  // Water only: the reservoirs carry no tracers.
  if (linkSecond && !reservoirs.empty()) linkSecond[0][ownZone] = LastReservoirDepth();
}

double routingclass::OutflowBeforeAbstractions() const {
  return reservoirs.empty() ? step[ownZone] : LastReservoirDepth();
}

void routingclass::RouteReservoirs(const StepDate& date, int conversion, int secondFlag) {
  const double objectArea = OutletArea();
  std::vector<AL_class*> none;
  for (size_t k = 0; k < reservoirs.size(); ++k) {
    SP_class& sp = *reservoirs[k];
    const bool last = k + 1 == reservoirs.size();
    const double inflow = DepthToDischarge(step[ownZone], objectArea);
    // The abstractions of the description draw on its last reservoir alone: it books the
    // step's abstractions at the outlet, evaluates the rule and file abstractions (modes 8
    // and 9) once, and what it gives them is what their inflows receive.
    const double withdrawal =
        last && date.month >= 1 ? 60.0 * dt * DepthToDischarge(abstractionResult, objectArea) : 0.0;
    sp.BeginStep(inflow, nullptr, last ? abstractionList : none, date, setup.runoffFactor, conversion, secondFlag,
                 dt, 0.0, withdrawal);
    // The start-up routing (no calendar year) takes no abstraction.
    if (last && date.year >= 1) {
      DeliverOutletAbstractions(date, withdrawal, sp.withdrawalGiven);
      DeliverReservoirAbstractions();
    }

    const double out = DischargeToDepth(sp.Qout, objectArea);
    step[ownZone] = out;
    for (int i = 1; i <= subint; ++i) subRunoff[i][ownZone] = out;
    if (last && date.month >= 1) LinkLastReservoir();
    // The start-up routing (no calendar year) is no step of the run: it writes no rows.
    if (date.month >= 1 && date.year >= 1) sp.StoreOutputRow(date);
  }
}

void routingclass::AppendTo(std::vector<SP_class*>& list) const {
  for (const auto& sp : reservoirs) list.push_back(sp.get());
}
