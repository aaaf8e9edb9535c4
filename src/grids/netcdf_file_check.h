// A look at a file before the netCDF library reads it: the library trusts the counts,
// sizes and names of a header, so a damaged, truncated or hostile file can make it ask for
// gigabytes, read cells that are not there as 0 or overrun a name buffer.
#pragma once

#include <string>

// Empty when the bytes (the whole file) can be a netCDF file; otherwise what is wrong, for
// a message. A classic header ("CDF" 1, 2 or 5) is walked to its end: its counts must fit
// the file, every name must be at most NC_MAX_NAME characters, and the data of every
// variable (all its records) must lie inside the file. A netCDF-4 (HDF5) file needs its
// signature, a whole superblock and at least the length its superblock records.
std::string NetcdfBytesProblem(const std::string& bytes);

// The same for a file on disk, read as far as its header goes; empty also when the file
// cannot be read (the library then reports that itself).
std::string NetcdfFileProblem(const std::string& fileName);

// Opens the file with the library's C interface, which keeps every name in memory of its
// own, and looks at every name of every group (dimensions, types, variables, attributes).
// The C++ interface copies names into buffers of NC_MAX_NAME + 1 characters: a longer one
// (an HDF5 attribute can carry one) is named here, before that copy. Empty when the names
// fit, or when the library cannot open the file (it reports that itself).
std::string NetcdfNamesProblem(const std::string& fileName);
