// A look at a file's first bytes before the netCDF library opens it: the library trusts
// the counts and sizes of a header, so a damaged or truncated file can make it ask for
// gigabytes before it fails.
#pragma once

#include <string>

// Empty when the bytes (the whole file, or its first part: fileSize is the file's length)
// can be a netCDF file: a classic header ("CDF" 1, 2 or 5) whose counts fit the file, or an
// HDF5 signature (netCDF-4) on a file long enough for its superblock. Otherwise what is
// wrong, for a message.
std::string NetcdfBytesProblem(const std::string& bytes, long long fileSize);

// The same for a file on disk; empty also when the file cannot be read (the library then
// reports that itself).
std::string NetcdfFileProblem(const std::string& fileName);
