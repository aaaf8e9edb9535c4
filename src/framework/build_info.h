// Build date and time in the forms "Dec 11 2025" and "14:22:57".
#pragma once

inline const char* BuildDate() { return __DATE__; }
inline const char* BuildTime() { return __TIME__; }
