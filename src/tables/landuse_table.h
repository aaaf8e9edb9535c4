// Rows of the land-use table [landuse_table] (the rows of [multilayer_landuse] live in
// multilayer_table.h).
//
// A LanduseTableEntry holds the vegetation and surface parameters of one land-use class,
// either as values at Julian-day fix points through the year or, in the old positional
// format (method 1), as monthly resistances and four fix points. defaultini owns the
// table as rows 0..count: row 0 is a header (its code holds the count, its balance days
// the table-wide values), rows 1..count follow the control file.
//
// Files: landuse_table.cpp (construction, accessors, dates), landuse_entry_reader.cpp
// (one entry of either format), landuse_table_reader.cpp (the section), landuse_day_values.*
// (parameter values of a day).
#pragma once

#include <string>
#include <vector>

#include "tables/multilayer_table.h"  // the rows of [multilayer_landuse]

class LogStream;
class TextCursor;

// Ends the run when a date gives a day of year above 366: error code 150, no message.
[[noreturn]] void ThrowDayOfYearError();

class LanduseTableEntry {
 public:
  LanduseTableEntry();
  explicit LanduseTableEntry(int code);

  // --- reading (landuse_entry_reader.cpp); failures end the run with code 29 ----------
  // One line of the old positional format.
  void ReadOldFormat(LogStream* log, const std::string& line, int mode);
  // One entry of the keyword format: code, name, "{", key = values; pairs, "}".
  void ReadNewFormat(LogStream* log, const std::string& text, const std::string& keyword);
  // Numbers are read as every number of the control file: "280.0" and "280." are the day
  // 280; a value that begins like a number but is none of the kind ("280.5" as a day, "2,0")
  // is named on the log with the row and the key before false is returned.
  // "JulDays": sets n, JD and JDcorr. Returns false when the list cannot be read.
  bool ReadJulDays(LogStream* log, const std::string& text);
  // "SoilTillage": sets soilTillageCount and soilTillageDays (count 0 when absent).
  bool ReadSoilTillage(LogStream* log, const std::string& text);
  // count values of key into entries 1..count of list, entry 0 := entry count. False
  // when the key is missing or fewer than count values can be read.
  bool ReadKeyDouble(LogStream* log, const std::string& text, const std::string& key, std::vector<double>& list,
                     int count);
  // Every key of the keyword format, whichever method reads it: a key that is none of them
  // is named in a WARNING.
  static const std::vector<std::string>& Keys();

  // --- plain accessors ---------------------------------------------------------------
  const std::string& GetName() const { return name; }
  int GetCode() const { return code; }
  void SetCode(int c) { code = c; }
  int GetMethod() const { return method; }
  int GetFixPointCount() const { return n; }
  const std::vector<int>& GetFixDays() const { return JD; }
  int GetFixDay(int index) const { return InRange(index, JD.size()) ? JD[index] : -1; }
  const std::vector<double>& GetAltitudeGradients() const { return altitudeGradient; }
  double GetAltitudeGradient(int index) const {
    return InRange(index, altitudeGradient.size()) ? altitudeGradient[index] : 0.0;
  }
  const std::vector<double>& GetForcingThresholds() const { return forcingThresholds; }
  double GetForcingThreshold(int index) const {
    return method == 5 && InRange(index, forcingThresholds.size()) ? forcingThresholds[index] : -1.0;
  }
  double GetRootDist() const { return RootDist; }
  double GetHReduDry() const { return HReduDry; }
  double GetTReduWet() const { return TReduWet; }
  double GetLimitReduWet() const { return LimitReduWet; }
  double GetETPHamonFactor() const { return ETPHamonFactor; }
  double GetIntercepCap() const { return IntercepCap; }
  double GetStressFactorDynPhen() const { return StressFactorDynPhen; }
  double GetFStar() const { return FStar; }
  int GetJDReset_TStart() const { return JDReset_TStart; }
  int GetDP1_t1_dorm() const { return DP1_t1_dorm; }
  double GetDP1_T_Bf() const { return DP1_T_Bf; }
  int GetDP2_t0_dorm() const { return DP2_t0_dorm; }
  int GetDP2_t1_dorm() const { return DP2_t1_dorm; }
  double GetDP2_T_Bc() const { return DP2_T_Bc; }
  double GetDP2_T_Bf() const { return DP2_T_Bf; }
  double GetDP2_Par_a() const { return DP2_Par_a; }
  double GetDP2_Par_b() const { return DP2_Par_b; }
  double GetDP2_Offset_1() const { return DP2_Offset_1; }
  double GetDP2_Offset_2() const { return DP2_Offset_2; }
  int GetDP4_t0_dorm() const { return DP4_t0_dorm; }
  int GetDP4_t1_dorm() const { return DP4_t1_dorm; }
  double GetDP4_T0() const { return DP4_T0; }
  double GetDP4_T1() const { return DP4_T1; }
  double GetDP4_Par_a() const { return DP4_Par_a; }
  double GetDP4_Par_b() const { return DP4_Par_b; }
  double GetDP4_T_xylstop() const { return DP4_T_xylstop; }
  int GetDP4_t_xs1() const { return DP4_t_xs1; }
  int GetDP4_SPSLF() const { return DP4_SPSLF; }
  int GetMaxStartJDforDP1() const { return maxStartJDforDP1; }
  // The tillage days (entries 1..count; null when there are none).
  void GetSoilTillage(int& count, const int*& days) const {
    count = soilTillageCount;
    days = soilTillageDays.empty() ? nullptr : soilTillageDays.data();
  }
  int GetDynamicStartShift() const { return dynamicStartShift; }
  void SetDynamicStartShift(int shift) { dynamicStartShift = shift; }
  bool GetDynamicStartSet() const { return dynamicStartSet; }
  void SetDynamicStartSet(bool set) { dynamicStartSet = set; }
  int GetDynamicFixIndex() const { return dynamicFixIndex; }
  int GetParameterMask() const { return parameterMask; }
  void SetParameterMask(int mask) { parameterMask = mask; }
  int TestParameterMask(int bits) const { return parameterMask & bits; }
  std::string GetUseInternalParameters() const { return useInternalParameters; }
  int GetStartVegetationPeriodForBalance() const { return StartVegetationPeriodForBalance; }
  int GetStopVegetationPeriodForBalance() const { return StopVegetationPeriodForBalance; }
  int GetJDVegetationResetForBalance() const { return JDVegetationResetForBalance; }
  void SetJDVegetationResetForBalance(int day) { JDVegetationResetForBalance = day; }
  int GetJDVegetationWriteForBalance() const { return JDVegetationWriteForBalance; }
  void SetJDVegetationWriteForBalance(int day) { JDVegetationWriteForBalance = day; }
  void SetPerCellFixDays(double**** days, int count) {
    perCellFixDays = days;
    perCellFixDayCount = count;
  }
  void SetStartDayGrids(double*** grids) { startDayGrids = grids; }
  void SetForcingSumGrids(double*** grids) { forcingSumGrids = grids; }
  void SetForcingThresholdGrids(double*** grids) { forcingThresholdGrids = grids; }
  // The year of the days the day forms are asked about (0: not known, taken as a common
  // year). A start late in the year carries the fix days after it into the next year, whose
  // days count on from the end of the start's year: the length of that year (this year for a
  // start on or before the day, else the year before) places them.
  void SetCalendarYear(int year);
  int StartYearLength(int dayOfYear, int startDay, int year = 0) const;
  double*** GetStartDayGrids() const { return startDayGrids; }
  double*** GetForcingSumGrids() const { return forcingSumGrids; }
  double*** GetForcingThresholdGrids() const { return forcingThresholdGrids; }
  int GetSR_cultivation() const { return SR_cultivation; }
  double GetSR_CropDistX() const { return SR_CropDistX; }
  double GetSR_CropDistY() const { return SR_CropDistY; }
  double GetSR_K_ST() const { return SR_K_ST; }
  double GetSR_C_WR() const { return SR_C_WR; }
  // Entries 1..3 of the coefficient lists (zeros for a row without them).
  void GetSR_rough_coeff1(double& a, double& b, double& c) const { Coefficients(SR_rough_coeff1, a, b, c); }
  void GetSR_rough_coeff2(double& a, double& b, double& c) const { Coefficients(SR_rough_coeff2, a, b, c); }
  double GetNf_freezing() const { return nf_freezing; }
  double GetNf_thawing() const { return nf_thawing; }
  double GetArcVegInFactFull() const { return ArcVegInFactFull; }
  double GetArcVegInFactSome() const { return ArcVegInFactSome; }
  double GetArcVegInUDIceWdg() const { return ArcVegInUDIceWdg; }
  double GetArcVegBNratio() const { return ArcVegBNratio; }
  double GetArcVegSenesce() const { return ArcVegSenesce; }
  double GetArcVegRetran() const { return ArcVegRetran; }
  double GetArcVegFoliarProp() const { return ArcVegFoliarProp; }
  double GetArcVegPropN() const { return ArcVegPropN; }
  double GetArcVegAGProp() const { return ArcVegAGProp; }
  double GetArcVegMaxBio() const { return ArcVegMaxBio; }
  const std::vector<double>& GetArcVegSeedMaxProb() const { return ArcVegSeedMaxProb; }
  const std::vector<double>& GetArcVegUptakeEfficiency() const { return ArcVegUptakeEfficiency; }

  // --- dates (landuse_table.cpp) ---------------------------------------------------------
  // Day of year of a date (Gregorian February of its year). Above 366: code 150.
  int DayOfYear(int day, int month, int year) const;
  // Records the start of the vegetation period of a dynamic-phenology row (methods 3, 4, 6).
  void SetPhenologyStartDate(int day, int month, int year);
  static double Interpolate(double x0, double y0, double x1, double y1, double x);

  // --- values of a day (landuse_day_values.cpp) ----------------------------------------
  // Day form: log, day of year, land-use layer (1-based), cell row i and column j, the
  // cell's altitude in metres (the fix-point values also the year of the day, for a caller
  // whose day may lie in another year than the row's calendar year). Date form: day,
  // month, year instead of the day of year.
  // The value operations leave the row unchanged and may run in several threads at once.
  double GetSurfaceCanopyResistanceAtDay(LogStream* log, int dayOfYear, int layer, int i, int j, double altitude) const;
  double GetSurfaceCanopyResistance(LogStream* log, int day, int month, int year, int layer, int i, int j, double altitude) const;
  double GetSurfaceIntercepResistanceAtDay(LogStream* log, int dayOfYear, int layer, int i, int j, double altitude) const;
  double GetSurfaceIntercepResistance(LogStream* log, int day, int month, int year, int layer, int i, int j, double altitude) const;
  double GetSurfaceEvaporationResistanceAtDay(LogStream* log, int dayOfYear, int layer, int i, int j, double altitude) const;
  double GetSurfaceEvaporationResistance(LogStream* log, int day, int month, int year, int layer, int i, int j, double altitude) const;
  double GetRoughnessLengthAtDay(LogStream* log, int dayOfYear, int layer, int i, int j, double altitude,
                                 int year = 0) const;
  double GetRoughnessLength(LogStream* log, int day, int month, int year, int layer, int i, int j, double altitude) const;
  double GetLeafAreaIndexAtDay(LogStream* log, int dayOfYear, int layer, int i, int j, double altitude,
                               int year = 0) const;
  double GetLeafAreaIndex(LogStream* log, int day, int month, int year, int layer, int i, int j, double altitude) const;
  double GetVegetationCoverageDegreeAtDay(LogStream* log, int dayOfYear, int layer, int i, int j, double altitude,
                                          int year = 0) const;
  double GetVegetationCoverageDegree(LogStream* log, int day, int month, int year, int layer, int i, int j, double altitude) const;
  double GetRootDepthAtDay(LogStream* log, int dayOfYear, int layer, int i, int j, double altitude) const;
  double GetRootDepth(LogStream* log, int day, int month, int year, int layer, int i, int j, double altitude) const;
  double GetAlbedoAtDay(LogStream* log, int dayOfYear, int layer, int i, int j, double altitude,
                        int year = 0) const;
  double GetAlbedo(LogStream* log, int day, int month, int year, int layer, int i, int j, double altitude) const;
  double GetStemDiameterAtDay(LogStream* log, int dayOfYear, int layer, int i, int j, double altitude,
                              int year = 0) const;
  double GetStemDiameter(LogStream* log, int day, int month, int year, int layer, int i, int j, double altitude) const;
  double GetResidCovrgAtDay(LogStream* log, int dayOfYear, int layer, int i, int j, double altitude,
                            int year = 0) const;
  double GetResidCovrg(LogStream* log, int day, int month, int year, int layer, int i, int j, double altitude) const;
  double GetVegetationPeriodDayAtDay(LogStream* log, int dayOfYear, int layer, int i, int j, double altitude) const;
  double GetVegetationPeriodDay(LogStream* log, int day, int month, int year, int layer, int i, int j, double altitude) const;
  double GetVegetationStopDayAtDay(LogStream* log, int dayOfYear, int layer, int i, int j, double altitude) const;
  double GetVegetationStopDay(LogStream* log, int day, int month, int year, int layer, int i, int j, double altitude) const;
  double GetNFactorAtDay(LogStream* log, int dayOfYear) const;
  double GetNFactor(LogStream* log, int day, int month, int year) const;
  // Empty when the fix days corrected for the altitude and start day (-1: none) lie in the
  // year (-1..366); else what moves out of it, naming the class, its keys and the altitude.
  std::string FixDayOutOfYear(double altitude, int startDay = -1) const;
  // Fills JDcorr for a cell start day (-1: none) and altitude; a day outside -1..366 is
  // error 152. These two write JDcorr: not for two threads at once.
  void CorrectFixPointsForAltitude(LogStream* log, int startDay, double altitude) const;
  // The index 1..n+1 of the fix-point interval that holds the day (after the correction).
  int FindFixPointInterval(LogStream* log, int dayOfYear, int startDay, double altitude) const;

  // --- fields --------------------------------------------------------------------------
  std::string name;
  int code = 0;
  int method = 0;  // 1 old format, 2 VariableDayCount, 3..6 DynamicPhenology_1.._4
  int n = 0;       // fix points
  int perCellFixDayCount = 0;
  int StartVegetationPeriodForBalance = 0;
  int StopVegetationPeriodForBalance = 1000;
  int JDVegetationResetForBalance = 1;
  int JDVegetationWriteForBalance = 0;
  int parameterMask = 0xff;
  std::string useInternalParameters = "11111111";
  // Links made by the daily parameter grids, [layer][row][column]; not owned.
  double**** perCellFixDays = nullptr;
  double*** startDayGrids = nullptr;
  double*** forcingSumGrids = nullptr;
  double*** forcingThresholdGrids = nullptr;
  int dynamicStartShift = 0;
  int dynamicFixIndex = 0;
  int calendarYear = 0;
  // The days of calendarYear and of the year before it, set with it: the cell loops ask them.
  int calendarYearLength = 365, previousYearLength = 365;
  std::vector<int> JD;              // [0..n]; entry 0 = JD[n] - 366
  mutable std::vector<int> JDcorr;  // [0..n]; the days of the last CorrectFixPointsForAltitude
  std::vector<double> surfaceCanopyResistance;       // [0..n]; method 1: [0..13] monthly
  std::vector<double> surfaceIntercepResistance;     // as above
  std::vector<double> surfaceEvaporationResistance;  // as above
  std::vector<double> albedo;
  std::vector<double> leafAreaIndex;
  std::vector<double> roughnessLength;
  std::vector<double> vegetationCoverage;
  std::vector<double> rootDepth;
  std::vector<double> altitudeGradient;  // days per metre above 400 m
  std::vector<double> forcingThresholds;  // method 5
  double RootDist = 0.0;
  double HReduDry = 0.0;
  double TReduWet = 0.0;
  double LimitReduWet = 0.0;
  double ETPHamonFactor = 1.0;
  double FStar = 0.0;  // key "F*"
  int JDReset_TStart = 0;
  int DP1_t1_dorm = 0;
  double DP1_T_Bf = 0.0;
  int DP2_t0_dorm = 0, DP2_t1_dorm = 0;
  double DP2_T_Bc = 0.0, DP2_T_Bf = 0.0, DP2_Par_a = 0.0, DP2_Par_b = 0.0, DP2_Offset_1 = 0.0,
         DP2_Offset_2 = 0.0;
  int DP4_t0_dorm = 0, DP4_t1_dorm = 0;
  double DP4_T0 = 0.0, DP4_T1 = 0.0, DP4_Par_a = 0.0, DP4_Par_b = 0.0, DP4_T_xylstop = 0.0;
  int DP4_t_xs1 = 0, DP4_SPSLF = 0;
  int maxStartJDforDP1 = 0;
  bool dynamicStartSet = false;
  double StressFactorDynPhen = 0.0;
  double IntercepCap = -1.0;
  std::vector<int> soilTillageDays;  // [0..soilTillageCount]
  int soilTillageCount = 0;
  int SR_cultivation = 0;  // 1 conserving, 2 nonconserving, 3 other
  std::vector<double> stemDiameter;
  std::vector<double> residueCoverage;
  double SR_CropDistX = 0.0, SR_CropDistY = 0.0, SR_K_ST = 0.0, SR_C_WR = 0.0;
  std::vector<double> SR_rough_coeff1;  // [0..3]
  std::vector<double> SR_rough_coeff2;  // [0..3]
  std::vector<double> nFactor;
  double nf_freezing = -9999.9, nf_thawing = -9999.9;
  double ArcVegInFactFull = 1.0, ArcVegInFactSome = 1.0, ArcVegInUDIceWdg = 1.0, ArcVegBNratio = 1.0,
         ArcVegSenesce = 1.0, ArcVegRetran = 1.0, ArcVegFoliarProp = 1.0, ArcVegPropN = 1.0,
         ArcVegAGProp = 1.0, ArcVegMaxBio = 1.0;
  std::vector<double> ArcVegSeedMaxProb = std::vector<double>(8, 0.0);       // [0..7]
  std::vector<double> ArcVegUptakeEfficiency = std::vector<double>(6, 0.0);  // [0..5]
  // Month lengths of a common year, index 0 = December of the previous year (dates take
  // February of their own year).
  int monthLength[13] = {31, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

 private:
  // The fix days read for the row rise through the year (equal days allowed; the two that a
  // dynamic start sets are left out); else a FATAL naming the class and false, followed by
  // note (what a comma of the list read).
  bool FixDaysRise(LogStream* log, const std::string& note = std::string()) const;
  static bool InRange(int index, size_t size) { return index >= 0 && static_cast<size_t>(index) < size; }
  static void Coefficients(const std::vector<double>& list, double& a, double& b, double& c) {
    a = list.size() > 3 ? list[1] : 0.0;
    b = list.size() > 3 ? list[2] : 0.0;
    c = list.size() > 3 ? list[3] : 0.0;
  }
  // Value of a per-fix-point list at a day for one cell (fix points or per-cell days).
  double ValueAtDay(LogStream* log, const std::vector<double>& values, int dayOfYear, int layer, int i, int j,
                    double altitude, int year = 0) const;
  // Monthly value of a method-1 resistance list.
  double MonthlyValueAtDay(const std::vector<double>& values, int dayOfYear) const;
  double MonthlyValue(const std::vector<double>& values, const int lengths[13], int day, int month) const;
  bool HasFixPoints() const {
    const size_t size = static_cast<size_t>(n) + 1;
    return n >= 1 && JD.size() >= size && altitudeGradient.size() >= size;
  }
  // Fix days corrected for the cell, in a list of the calling thread (valid until its next
  // call). With the day: seasonShift is set to what a day of the next year before the start
  // adds (CorrectFixDays), else 0.
  const int* CorrectedDays(LogStream* log, int startDay, double altitude) const;
  const int* CorrectedDays(LogStream* log, int startDay, double altitude, int dayOfYear, int& seasonShift,
                           int year = 0) const;
  // The cell's own fix days (methods 5 and 6 with per-cell lists) and what a day of the
  // next year before the cell's start adds to the day, else null.
  const double* CellFixDays(int layer, int i, int j, int dayOfYear, int& seasonShift, int year = 0) const;
  // The cell's start day (methods 3, 4, 6 with start-day grids), else -1.
  int CellStartDay(int layer, int i, int j) const;
  // The cell's own fix days (methods 5 and 6 with per-cell lists), else null.
  const double* CellFixDays(int layer, int i, int j) const;
  double ResistanceAtDay(LogStream* log, const std::vector<double>& values, int dayOfYear, int layer, int i,
                         int j, double altitude) const;
  double ResistanceAtDate(LogStream* log, const std::vector<double>& values, int day, int month, int year,
                          int layer, int i, int j, double altitude) const;
};

// Reads a [landuse_table] section from the cursor, which stands just behind its header:
// the row count, then count entries. Returns rows 0..count (row 0 the header).
// mode is the table mode of the start-up (handed to the old-format parser); fileName names
// the cursor's text in the WARNING on a key of an entry that no reader knows.
std::vector<LanduseTableEntry> ReadLanduseSection(LogStream* log, TextCursor& cursor, int mode,
                                                  const std::string& fileName = std::string());
