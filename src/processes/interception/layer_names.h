// File names of the vegetation layers: "_Layer_" and the layer number go before the
// extension of the whole cell's name.
#pragma once

#include <string>

// stor.asc gives stor_Layer_2.asc for layer 2. A name whose last path part has no "."
// gets "_Layer_" and the number appended (a "." of a directory is no extension).
inline std::string LayerFileName(const std::string& name, int layer) {
  const size_t slash = name.find_last_of('/');
  const size_t dot = name.find_last_of('.');
  const std::string tag = "_Layer_" + std::to_string(layer);
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name + tag;
  return name.substr(0, dot) + tag + name.substr(dot);
}
