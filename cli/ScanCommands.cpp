// Placeholder until the scan commands land.
#include "cli/Commands.h"
int runScan(CliContext&, int, char**) { return usageError("scan is not available yet"); }
int runUnits(CliContext&, int, char**) { return usageError("units is not available yet"); }
