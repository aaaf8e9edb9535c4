#include <algorithm>

#include "framework/append_file.h"
#include "framework/logstream.h"
#include "routing/routingclass.h"

namespace {

[[noreturn]] void Fail(LogStream* log, const std::string& text, int code) {
  if (log) *log << "FATAL: " << text << "[end-entry]";
  throw code;
}

// Abstractions whose water goes to an internal inflow (ZL "intern") of another object.
bool IsInternal(int mode) {
  return mode == kAbstractIntern || mode == kAbstractInternRule || mode == kAbstractReservoirRule;
}

const char* const kLinkError = "\n ---> Error in connecting internal abstractions with internal inflows:\n";

}  // namespace

void routingclass::SetAblaufModus(const RoutingDescription& d, TextCursor& controlFile) {
  const StepDate start{static_cast<int>(setup.start.year), static_cast<int>(setup.start.month),
                       static_cast<int>(setup.start.day), static_cast<int>(setup.start.hour),
                       static_cast<int>(setup.start.minute)};
  for (size_t k = 0; k < d.abstractionCodes.size(); ++k) {
    auto a = std::make_unique<AL_class>();
    a->SetParameters(log, 0, {}, setup.outputDirectory, area, areaFactor, dt, setup.timeOffsetHours,
                     setup.stampToStepEndHours);
    a->code = d.abstractionCodes[k];
    // The code names the abstraction: its rule section, its output header and messages.
    a->ReadParameters(k < d.abstractionTexts.size() ? d.abstractionTexts[k] : std::string(), a->code, start);
    if ((a->mode == kAbstractReservoirRule || a->mode == kAbstractReservoirFile) && d.reservoirCodes.empty() && log)
      *log << "WARNING: abstraction " << a->code << " of routing description " << number
           << " draws on a reservoir, but the description has none: it takes nothing" << "[end-entry]";
    abstractionList.push_back(a.get());
    abstractions.push_back(std::move(a));
  }
  abstractionTarget.assign(abstractions.size(), 0);
  outletAmounts.assign(abstractions.size(), 0.0);
  AL_class::ResolveAbstractionCodes(abstractionList, log);
  for (AL_class* a : abstractionList) a->ReadAbstractionRules(controlFile);
}

void routingclass::ConnectAbstraction(size_t k, const routingclass& target, int inflowZone) {
  AL_class& a = *abstractions[k];
  int tributary = 0;
  for (const ChannelTable& c : target.channels)
    if (c.kind == kChannelOL) {
      tributary = c.sourceZone;
      break;
    }
  a.SetRuleParameters(target.ownZone, tributary, target.area);
  abstractionTarget[k] = inflowZone;
}

void ConnectInternalAbstractions(const std::vector<routingclass*>& objects, LogStream* log) {
  for (routingclass* target : objects)
    for (InflowState& z : target->inflows) {
      if (z.mode != kInflowIntern) continue;
      bool matched = false;
      for (routingclass* b : objects)
        for (size_t k = 0; k < b->abstractions.size(); ++k) {
          const AL_class& a = *b->abstractions[k];
          if (!IsInternal(a.mode) || a.code != z.number) continue;
          if (matched)
            Fail(log,
                 std::string(kLinkError) + "in routing description " + std::to_string(b->number) + " for TG " +
                     std::to_string(b->code) + ":\nInflow " + std::to_string(z.number) +
                     " is already connected to an internal abstraction.\n"
                     "Each abstaction (AL-element) must be conencted to exactly one internal inflow(ZL-element)\n",
                 300);
          if (target->code == b->code)
            Fail(log,
                 std::string(kLinkError) + "Abstraction AL " + std::to_string(a.code) + " from routing description " +
                     std::to_string(b->number) + " and inflow ZL " + std::to_string(z.number) +
                     " are both defined for the same routing-subbasin TG " + std::to_string(b->code) +
                     ".\nthis is not allowed\n",
                 301);
          b->ConnectAbstraction(k, *target, z.zone);
          z.deliveredLater = b->number > target->number;
          matched = true;
        }
      if (!matched)
        Fail(log,
             std::string(kLinkError) + "in routing description " + std::to_string(target->number) + " for TG " +
                 std::to_string(target->code) + ":\nInternal Inflow ZL " + std::to_string(z.number) +
                 " has no conenction to an internal abstraction.\nthis is not allowed\n",
             302);
    }
  for (const routingclass* b : objects)
    for (size_t k = 0; k < b->abstractions.size(); ++k)
      if (IsInternal(b->abstractions[k]->mode) && b->abstractionTarget[k] == 0)
        Fail(log,
             std::string(kLinkError) + "in routing description " + std::to_string(b->number) + " for TG " +
                 std::to_string(b->code) + ":\nInternal abstraction AL " + std::to_string(b->abstractions[k]->code) +
                 " is not connected to any internal inflow.\n",
             303);
}

void routingclass::ApplyAbstractions(const StepDate& date, double available, bool reduceOwnZone) {
  abstractionResult = 0.0;
  const double outletArea = OutletArea();
  for (size_t k = 0; k < abstractions.size(); ++k) {
    AL_class& a = *abstractions[k];
    // Modes 8 and 9 draw on the reservoir: its step evaluates them.
    if (a.mode == kAbstractReservoirRule || a.mode == kAbstractReservoirFile) continue;
    const double before = abstractionResult;
    a.ApplyRule(step, abstractionResult, available, date);
    const double amount = abstractionResult - before;
    if (!reduceOwnZone) {
      // Booked against the reservoir, which may hold less: delivered after its step.
      outletAmounts[k] = amount;
      continue;
    }
    const double q = DepthToDischarge(amount, outletArea);
    // The initialisation routing (year 0) writes no rows.
    if (date.year >= 1 && date.month >= 1) a.StoreOutputRow(date, {q});
    step[ownZone] -= amount;
    for (int s = 1; s <= subint; ++s) subRunoff[s][ownZone] -= amount;
    DeliverToTarget(k, q);
  }
}

void routingclass::DeliverOutletAbstractions(const StepDate& date, double asked, double given) {
  const double outletArea = OutletArea();
  const bool capped = given < asked;
  const double share = capped && asked > 0.0 ? std::max(0.0, given) / asked : 1.0;
  if (capped) abstractionResult *= share;
  for (size_t k = 0; k < abstractions.size(); ++k) {
    const AL_class& a = *abstractions[k];
    if (a.mode == kAbstractReservoirRule || a.mode == kAbstractReservoirFile) continue;
    double q = DepthToDischarge(outletAmounts[k], outletArea);
    if (capped) q *= share;
    if (date.month >= 1) abstractions[k]->StoreOutputRow(date, {q});
    DeliverToTarget(k, q);
  }
}

void routingclass::DeliverReservoirAbstractions() {
  for (size_t k = 0; k < abstractions.size(); ++k)
    if (abstractions[k]->mode == kAbstractReservoirRule) DeliverToTarget(k, abstractions[k]->amount);
}

void routingclass::DeliverToTarget(size_t k, double q) {
  const int zone = abstractionTarget[k];
  if (zone <= 0) return;
  // The inflow zone holds m³/s until its own object routes it (see Route).
  step[zone] = q;
  for (int s = 1; s <= subint; ++s) subRunoff[s][zone] = q;
}

std::vector<std::pair<int, double>> routingclass::PendingTransfers() const {
  std::vector<std::pair<int, double>> pending;
  for (const InflowState& z : inflows)
    if (z.deliveredLater) pending.emplace_back(z.number, step[z.zone]);
  return pending;
}

bool routingclass::SetPendingTransfer(int inflowNumber, double q) {
  for (const InflowState& z : inflows)
    if (z.deliveredLater && z.number == inflowNumber) {
      step[z.zone] = q;
      for (int s = 1; s <= subint; ++s) subRunoff[s][z.zone] = q;
      return true;
    }
  return false;
}

void routingclass::FlushOutputFiles() {
  WriteEach each;  // every file, also after one failed
  for (AL_class* a : abstractionList) each([&] { a->FlushToDisk(1); });
  for (auto& sp : reservoirs) each([&] { sp->FlushToDisk(1); });
  each.Raise();
}
