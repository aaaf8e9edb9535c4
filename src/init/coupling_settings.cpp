// [ExternalCoupling]: whether the model exchanges grids with an outside program, and which.
#include <string>

#include "framework/file_reason.h"
#include "framework/logstream.h"
#include "framework/text_helpers.h"
#include "init/coupling.h"
#include "init/defaultini.h"

namespace {

constexpr const char* kErrorHead = "FATAL: -----------------error------------\n";
constexpr size_t kMaxWriteCode = 49;

}  // namespace

void defaultini::CouplingReadError(const char* text, bool extraLineBreak) {
  if (log) {
    *log << kErrorHead << text << name
         << "\npossible reason: parameter missing or a linefeed \nbefore the end of the parameter block";
    if (extraLineBreak) *log << "\n";
    *log << "[end-entry]";
  }
  throw 10;
}

void defaultini::GetCouplingParameters() {
  coupling = CouplingSettings();
  if (!OpenControlFile()) {
    if (log) *log << "FATAL: error opening " << controlFileName << FileOpenReason(controlFileName, false, 0) << "[end-entry]";
    throw 14;
  }
  ReadCouplingSection();
  if (coupling.mode == 1 && log)
    *log << "WARNING: [ExternalCoupling] asks for coupling mode 1, but this run exchanges nothing with the outside "
            "program: it writes no informing semaphore file, waits for no semaphore file and reads none of its grids; "
            "it runs uncoupled"
         << "[end-entry]";
  WarnAboutSpinUp();
}

void defaultini::WarnAboutSpinUp() {
  if (!SeekControlKey("[SpinUp]", false)) return;
  int spinUp = 0;
  if (!controlFile.ReadInt(spinUp) || spinUp == 0) return;
  restOfLine = controlFile.RestOfLine();
  if (log)
    *log << "WARNING: [SpinUp] switch " << spinUp << ": this run makes no spin-up (no repeated periods, no "
            "temperature pre-spin-up, no hydrologic response units); it runs the period once"
         << "[end-entry]";
}

void defaultini::ReadCouplingSection() {
  coupling = CouplingSettings();
  if (!SeekControlKey("[ExternalCoupling]", false)) return;

  TextCursor& c = controlFile;
  // A positional value: the value, then its label or comment up to the end of the line.
  auto word = [&](std::string& value, size_t maxLength, const char* error) {
    if (!c.ReadWord(value) || value.size() > maxLength) CouplingReadError(error);
    restOfLine = c.RestOfLine();
  };
  auto integer = [&](int& value, const char* error) {
    if (!c.ReadInt(value)) CouplingReadError(error);
    restOfLine = c.RestOfLine();
  };

  if (!c.ReadInt(coupling.mode)) CouplingReadError("error reading coupling mode for ", true);
  restOfLine = c.RestOfLine();
  if (coupling.mode == 0) return;

  word(coupling.semaphoreFile, kMaxFileName, "error reading name of the external groundwater table grid for ");
  if (!c.ReadLong(coupling.waitInterval))
    CouplingReadError("error reading of wait interval for scanning for external gw table grid ");
  restOfLine = c.RestOfLine();

  c.SkipBlanks();
  const char gridMode = c.Peek();
  if (gridMode != 'I' && gridMode != 'H' && gridMode != 'D' && gridMode != 'M' && gridMode != 'Y')
    CouplingReadError("error reading Coupling Mode (I, H, D, M or Y) for external gw table grid ");
  coupling.gridMode = gridMode;
  c.Seek(c.Pos() + 1);
  restOfLine = c.RestOfLine();

  integer(coupling.externalTimeStep,
          "error reading time step of the external model (should be given in minutes after coupling mode) ");

  int count = 0;
  integer(count, "error reading number of external grids to read in ");
  if (count > 0) {
    const char* error = "error reading external (read) grid name/entity/fill code/rename code ";
    for (int i = 0; i < count; ++i) {
      ExternalReadGrid g;
      if (!c.ReadWord(g.fileName) || !c.ReadWord(g.internalName) || !c.ReadInt(g.fillCode) ||
          !c.ReadInt(g.renameCode) || g.fileName.size() > kMaxFileName || g.internalName.size() > kMaxFileName)
        CouplingReadError(error);
      coupling.readGrids.push_back(std::move(g));
    }
    restOfLine = c.RestOfLine();
  }

  integer(count, "error reading number of external grids to write in ");
  if (count > 0) {
    const char* error = "error reading external (write) grid name/entity/Writecode";
    for (int i = 0; i < count; ++i) {
      ExternalWriteGrid g;
      if (!c.ReadWord(g.fileName) || !c.ReadWord(g.internalName) || !c.ReadWord(g.writeCode) ||
          g.fileName.size() > kMaxFileName || g.internalName.size() > kMaxFileName ||
          g.writeCode.size() > kMaxWriteCode)
        CouplingReadError(error);
      if (HasSumGrid(g.writeCode)) {
        g.sum.reset(matrix(1, geometry.nrows, 1, geometry.ncols));
        const double nodata = geometry.nodata_value;
        for (int r = 1; r <= geometry.nrows; ++r)
          for (int col = 1; col <= geometry.ncols; ++col) g.sum[r][col] = IsBasinCell(r, col) ? 0.0 : nodata;
      }
      coupling.writeGrids.push_back(std::move(g));
    }
    restOfLine = c.RestOfLine();
  }

  integer(count, "error reading number of external Stats to write in ");
  if (count > 0) {
    const char* error = "error reading external (write) Statfile name/entity/writecode";
    for (int i = 0; i < count; ++i) {
      ExternalWriteStatistic s;
      if (!c.ReadWord(s.fileName) || !c.ReadWord(s.entityName) || !c.ReadWord(s.writeCode) ||
          s.fileName.size() > kMaxFileName || s.entityName.size() > kMaxFileName ||
          s.writeCode.size() > kMaxWriteCode)
        CouplingReadError(error);
      coupling.statistics.push_back(std::move(s));
    }
    restOfLine = c.RestOfLine();
  }

  word(coupling.informSemaphoreFile, kMaxFileName,
       "error reading semaphore file name for file to be written by orvel ");
  word(coupling.informSemaphoreContent, kMaxFileName,
       "error reading semaphore Content for file to be written by orvel ");
}

bool defaultini::HasGWTableExtern() const {
  for (const ExternalReadGrid& g : coupling.readGrids)
    if (g.internalName == "GWTableExtern") return true;
  return false;
}

bool HasSumGrid(const std::string& writeCode) {
  return writeCode == "Sum" || writeCode == "Mean" || IsRunningTotal(writeCode);
}

bool IsRunningTotal(const std::string& writeCode) { return writeCode.compare(0, 8, "SumTotal") == 0; }
