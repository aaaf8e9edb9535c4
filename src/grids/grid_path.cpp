#include "grids/grid_path.h"

std::string MakePath(const std::string& directory, const std::string& fileName) {
  if (fileName.empty() || directory.empty()) return fileName;
  if (fileName[0] == '/' || fileName[0] == '~') return fileName;
  return directory + fileName;
}
