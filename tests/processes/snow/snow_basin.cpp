#include "processes/snow/snow_basin.h"

#include "support/test_support.h"

std::vector<std::string> SnowSectionLines(int method, int interval, const std::string& statCode) {
  auto stat = [&](const std::string& file) { return file + " " + statCode; };
  std::vector<std::string> l = {
      "[snow_model]",
      "1 # flow control parameter",
      std::to_string(interval) + " # time interval",
      std::to_string(method) + " # method",
      "1.0 # transzone",
      "0.5 # T0R",
      "0.0 # T0",
      "0.1 # CWH",
      "0.05 # CRFR",
      "2.0 2.2 2.5 3.0 3.5 4.0 4.5 4.5 4.0 3.5 3.0 2.5 # DDF",
      "1.5 1.6 1.8 2.0 2.2 2.4 2.6 2.6 2.4 2.2 2.0 1.8 # a",
      "0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 # b",
      "0.01 # z0",
      "1.0 # RMFMIN",
      "3.0 # RMFMAX",
      "0.45 # ALBsnow_min",
      "0.9 # ALBsnow_max",
      "rain.asc",
      "0",
      stat("rain.stat"),
      "snow.asc",
      "0",
      stat("snow.stat"),
      "snowdays.asc",
      "0",
      stat("snowdays.stat"),
      "snowage.asc",
      "0",
      stat("snowage.stat"),
      stat("albedo.stat"),
      "outflow.asc",
      "0",
      stat("outflow.stat"),
      "meltonly.asc",
      "0",
      stat("meltonly.stat"),
      "solid.asc",
      "0",
      "liquid.asc",
      "0",
      stat("total.stat"),
      "total.asc",
      "0",
      "0 # readgrids",
  };
  if (method > 4) {
    const std::vector<std::string> second = {
        "snowtemp.asc",   "0", stat("snowtemp.stat"),
        "surftemp.asc",   "0", stat("surftemp.stat"),
        "inputmass.asc",  "0", stat("inputmass.stat"),
        "mobilemass.asc", "0", stat("mobilemass.stat"),
        "deposition.asc", "0", stat("deposition.stat"),
        "55.0 # maxDepositionSlope",
        "1.0 # maxDepositionFactor",
        "30.0 # minSlideSlope",
        "0.01 # slideMassFrac",
        "1.0 # LWINcorr",
        "1.0 # LWOUTcorr",
        "1.0 # EnBalScaling",
    };
    l.insert(l.end(), second.begin(), second.end());
  }
  return l;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  return text;
}

ModuleOwner<schneemodellklasse> MakeSnowModel(SnowBasin& basin, LogStream& log, const std::string& dir,
                                                  const std::string& controlText, int& error) {
  const std::string control = dir + "/run.ctl";
  WriteTextFile(control, controlText);
  ModuleInputs in = basin.Inputs(log, control, dir + "/");
  error = 0;
  try {
    auto m = MakeModule<schneemodellklasse>(error, in);
    if (error == 0) m->SetSnowInterceptionFlag(0);
    return m;
  } catch (int code) {
    error = code;
  }
  return {};
}

ModelDate StepDate(int step, int interval) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const long minutes = static_cast<long>(step) * interval;
  long day = minutes / 1440;
  const long minuteOfDay = minutes % 1440;
  int month = 1;
  while (day >= kDays[month - 1]) day -= kDays[month++ - 1];
  return ModelDate{minuteOfDay % 60, minuteOfDay / 60, day + 1, month, 2001};
}
