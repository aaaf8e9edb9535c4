// Cell physics of the soil water balance and of the infiltration, without I/O: the soil
// model's cell loop calls these, and a test checks each against hand values alone.
// Water amounts are mm per step, storages relative (SB, SBia, SSP) or in mm (the rest).
#pragma once

// Parameters of one sub-basin in their internal units (see the parameter table reader).
struct SubbasinParameters {
  double m = 0.0;       // recession parameter, mm
  double Tkorr = 0.0;   // transmissivity scaling (baseflow)
  double Kkorr = 0.0;   // conductivity scaling (drainage)
  double kQD = 60.0;    // direct-runoff storage coefficient, minutes
  double SHmax = 0.0;   // interflow storage capacity, mm
  double kQI = 0.0;     // interflow recession factor exp(-dt / k)
  double kQBB = 60.0;   // slow-baseflow storage coefficient, minutes
  double alpha = 0.0;   // slow-baseflow inflow, mm per step
  double QBBini = 0.0;  // initial slow baseflow, mm per step
  double SUZini = 0.0;  // initial interflow storage, mm
  double SDini = 0.0;   // initial deficit as a fraction of the available soil moisture
  double Pgrenz = 0.0;  // input intensity above which macropores bypass the soil storage
  double Rrueck = 0.0;  // reinfiltrating fraction
  double QDsnow = 0.0;  // direct-runoff share of the input under a snow cover
};

// The state a cell carries from step to step.
struct SoilCellState {
  double SB = 0.0;     // soil storage, relative to nFK
  double SBia = 1.0;   // inactive soil moisture, relative to nFKia
  double nFKia = 0.0;  // inactive field capacity, mm
  double SSP = 0.0;    // saturated soil partition
  double SBold = 0.0;  // soil storage after the previous step's filling
  double SUZ = 0.0;    // unsaturated-zone storage, mm
  double SIF = 0.0;    // interflow storage, mm
  double SD = 0.0;     // local saturation deficit, mm
};

// What the cell step takes besides its state.
struct SoilCellInputs {
  double water = 0.0;               // input of the step (after infiltration)
  double snowSolid = -1.0;          // solid snow storage, mm; below 0 when there is none
  double infiltrationExcess = 0.0;  // added to the direct runoff
  double nFK = 0.0;                 // available soil moisture, mm
  double rootDepth = 0.0;           // m, largest of the layers
  double porosity = 0.0;            // drainable porosity n, fraction
  double conductivity = 0.0;        // hydraulic conductivity, mm per step
  bool slowBaseflow = false;        // method 2
};

// What the cell step gives.
struct SoilCellOutputs {
  double waterLeft = 0.0;  // the input without the snow share (written back to the input grid)
  double QD = 0.0;         // direct runoff incl. snow share and infiltration excess
  double QI = 0.0;         // interflow
  double QSUZ = 0.0;       // drainage to the saturated zone
  double QBBin = 0.0;      // inflow to the slow baseflow storage (method 2)
  bool capillaryFailed = false;  // SSP was 1 and would still grow: the step must stop
  double sspNew = 0.0;           // for the failure report
  double capillaryFlow = 0.0;
};

namespace soilcell {

// Reflow from the interflow storage into the soil storage; never more than the store holds.
double Reflow(double SIF, double SB, double nFK, double SHmax, double Rrueck);

// Capillary exchange with the saturated zone for capillary reach R (mm). Returns false when
// the cell is fully saturated (SSP = 1) and the saturated partition would still grow.
bool CapillaryExchange(SoilCellState& s, double nFK, double R, double& sspNew, double& flow);

// Adds water to the soil storage; what it cannot hold goes to the inactive store and then
// to the unsaturated zone. A cell without capacity (nFK <= 0) passes all to the unsaturated
// zone.
void FillSoilStorage(SoilCellState& s, double water, double Pgrenz, double nFK);

// Interflow storage: takes the unsaturated zone above SD - SHmax, spills above SHmax as
// direct runoff (returned in qdOverflow) and drains by the recession factor. Returns QI.
double InterflowStep(SoilCellState& s, double SHmax, double kQI, double& qdOverflow);

// Drainage to the saturated zone, at most what the unsaturated zone holds.
double Drainage(SoilCellState& s, double conductivity, double Kkorr, double m);

// Inflow to the slow baseflow storage.
double SlowBaseflowInflow(double alpha, double SD, double m);

// Steps b to m of a cell: s.SD must hold the cell's deficit for this step on entry.
void Step(SoilCellState& s, const SoilCellInputs& in, const SubbasinParameters& p, SoilCellOutputs& out);

// Output of a linear storage with factor e = exp(-dt / k) for a step's inflow.
inline double LinearStorage(double previousOutput, double inflow, double e) {
  return previousOutput * e + inflow * (1.0 - e);
}
// The water such a storage holds behind an output q (exact for the update above).
inline double LinearStorageContent(double q, double e) { return e < 1.0 ? q * e / (1.0 - e) : 0.0; }

// Travel-time zone of a travel time in seconds for a step of dtMinutes; at least 1.
int TravelTimeZone(double seconds, double dtMinutes);

// Slope stability index (infinite slope); -1 where it is not defined.
double StabilityIndex(double soilDepth, double density, double cohesion, double frictionAngle,
                      double slopeDegrees, double SD, double porosity);

// Infiltration of input P with conductivity K, free pore fraction f and suction psi.
// marker: 0 unsaturated, 1 saturated since an earlier step (updated). Returns the
// infiltration excess; newInput gets what stays in the input grid.
double Infiltration(double P, double K, double f, double psi, double macroporeFraction, double& marker,
                    double& newInput);

// Free pore fraction of a cell for the infiltration.
double FreePoreFraction(double SUZ, double SD, double porosity, double SB, double nFK, double rootDepth);

}  // namespace soilcell
