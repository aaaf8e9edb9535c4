// Start-up step whose full behaviour is built elsewhere: the external coupling.
#include "init/defaultini.h"

void defaultini::GetCouplingParameters() { couplingMode = 0; }
