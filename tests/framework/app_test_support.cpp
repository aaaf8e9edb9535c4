#include "framework/app_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

const std::string kBasin = std::string(ORVEL_SOURCE_DIR) + "/examples/basin/";

std::vector<int> gZoneMap = {0, 1};

void AdjustRunValues(RunValues& v) {
  const ClockPlan& plan = NextClockPlan();
  v.meteoCount = plan.count;
  v.meteoNames.assign(static_cast<size_t>(plan.count) + 1, std::string());
  for (int i = 1; i <= plan.count; ++i) v.meteoNames[static_cast<size_t>(i)] = "variable" + std::to_string(i);
  v.start = ModelDate{0, 1, 1, 1, 1990};
  v.end = ModelDate{0, 23, 1, 1, 1990};
  if (plan.zones && v.zoneCodeMap.empty()) {
    v.zoneCodeMap = gZoneMap;  // the zones of the example, before the start-up ranks them
    v.minToIntEnd = 60.0;
  }
}

meteointerpol* MakeClock(const ModuleInputs& in, const std::string& name, int, int) {
  const ClockPlan& plan = NextClockPlan();
  const int i = std::stoi(name.substr(8));
  auto* clock = new ClockInterpolator(in, name, plan.startHour[i], plan.endHour[i]);
  clock->interpolationMethod = plan.method[i];
  clock->failOnDelete = plan.failOnDelete[i];
  return clock;
}

}  // namespace

BasinCopy::BasinCopy() {
  CopyExampleInputs(kBasin, dir_.path());
  std::filesystem::create_directories(dir_.file("output"));
  // These tests drive the frame with clock interpolators that make no grids: the example's
  // soil model (which needs the precipitation grid), routing (which needs the soil
  // model's runoff), evapotranspiration (which needs the temperature grid) and interception
  // (which needs the grids of evapotranspiration) and data assimilation (which replaces a
  // grid of the snow model) are switched off in the copy.
  std::string text = ReadTextFile(dir_.file("basin.ctl"));
  for (const char* section :
       {"[evapotranspiration]\n", "[interception_model]\n", "[infiltration_model]\n", "[soil_model]\n",
        "[routing_model]\n", "[data_assimilation]\n"}) {
    const size_t p = text.find(section);
    if (p != std::string::npos && text.compare(p + std::strlen(section), 1, "1") == 0)
      text[p + std::strlen(section)] = '0';
  }
  WriteTextFile(dir_.file("basin.ctl"), text);
  // The control file names its grids relative to the folder the model runs in.
  here_ = std::make_unique<WorkingDirectory>(dir_.path());
}

BasinCopy::~BasinCopy() = default;

void BasinCopy::Edit(const std::string& from, const std::string& to) {
  std::string text = ReadTextFile(ControlFile());
  const size_t p = text.find(from);
  ASSERT_NE(p, std::string::npos) << "not in the example's control file: " << from;
  text.replace(p, from.size(), to);
  WriteTextFile(ControlFile(), text);
}

ClockInterpolator::ClockInterpolator(const ModuleInputs& in, const std::string& name, int startHour, int endHour)
    : meteointerpol(in, name, ModelDate{0, startHour, 1, 1, 1990}, 60.0) {
  now = ModelDate{0, startHour, 1, 1, 1990};
  SetEndDate(1990, 1, 1, endHour, 0);
}

void ClockInterpolator::GetCurrentTime(int64_t& minute, int64_t& hour, int64_t& day, int64_t& month,
                                       int64_t& year) const {
  minute = now.minute;
  hour = now.hour;
  day = now.day;
  month = now.month;
  year = now.year;
}

void ClockInterpolator::DeleteModule() {
  modelobject::DeleteModule();
  if (failOnDelete) throw failOnDelete;
}

ClockPlan& NextClockPlan() {
  static ClockPlan plan;
  return plan;
}

AppSeams::AppSeams() {
  NextApplicationSeams() = ApplicationSeams();
  NextClockPlan() = ClockPlan();
  seams().calls = &calls;
  seams().answers = &answers;
  seams().adjustRunValues = AdjustRunValues;
  seams().makeInterpolator = MakeClock;
  CtrlCState = 0;
}

AppSeams::~AppSeams() {
  NextApplicationSeams() = ApplicationSeams();
  NextClockPlan() = ClockPlan();
  CurrentApplication = nullptr;
  CtrlCState = 0;
  std::signal(SIGINT, SIG_DFL);
}

// The runs built here have clock interpolators only, which give the snow model (switched on
// in the example) no meteorological grids: they run the frame with the snow model off.
static void SnowModelOff(const std::string& controlFile) {
  std::string text = ReadTextFile(controlFile);
  const std::string on = "[snow_model]\n1 ";
  const size_t p = text.find(on);
  if (p == std::string::npos) return;
  text[p + on.size() - 2] = '0';
  WriteTextFile(controlFile, text);
}

std::unique_ptr<ModellApplication> MakeApplication(LogStream& log, const std::string& controlFile) {
  SnowModelOff(controlFile);
  std::string program = "orvelvco64";
  std::string file = controlFile;
  char* argv[] = {program.data(), file.data(), nullptr};
  auto app = std::make_unique<ModellApplication>(&log, 2, argv, 1);
  CurrentApplication = app.get();
  EnableCtrlCHandler();
  return app;
}

int Occurrences(const std::string& s, const std::string& text) {
  int n = 0;
  for (size_t p = s.find(text); p != std::string::npos; p = s.find(text, p + text.size())) ++n;
  return n;
}
