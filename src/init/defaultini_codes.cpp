// Start-up steps whose full behaviour is built elsewhere: the irrigation sections and the
// external coupling.
#include "framework/logstream.h"
#include "init/defaultini.h"

void defaultini::ReadIrrigation() {}
void defaultini::GetCouplingParameters() { couplingMode = 0; }

void defaultini::IrrigationDescriptionError(int irrigationType) {
  if (log)
    *log << "FATAL: irrigation description for irrigation type " << irrigationType << " is wrong "
         << "there are 4 possible ways to define irrigation rules:\ntwo schedule variants:\n"
            "1.: \"starting from MM DD with XX mm to MM DD with YY mm every ZZ day\"\n"
            "2.: \"starting from MM DD with XX mm AA times every ZZ days\"\n"
            " where MM and DD are Month and day, XX is the first irrigation amount \n"
            " per irrigation event in mm/day, ZZ is the time step (e.g. every 4 days..),\n"
            " YY is the last irrigation amount in mm/day (it is linearly interpolated)\n"
            " and AA is a repeat counter (only in the secound format).\n"
            " The model recognises both formats by the different formats by analysing the\n"
            " key-words \"starting from\", \"to\" and \"times\"\n"
            " note: there may be defined multiple irrigation schemes in one row,\n"
            " but they have to be of the same type (1. or 2.) \n"
            " and they have to be seperated by a semicolon (;)\n"
            " 3.: irrigation control by demand (1): suction (psi) for start and end of irrigation must be "
            "provided\n"
            " 4.: irrigation control by demand (2): ratio between ETR and ETP for irrigation start must be "
            "provided\n"
         << "[end-entry]";
  throw 29;
}
