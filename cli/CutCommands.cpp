// Placeholder until the cut commands land.
#include "cli/Commands.h"
int runCut(CliContext&, int, char**) { return usageError("cut is not available yet"); }
int runListMpeg(CliContext&, int, char**) { return usageError("list-mpeg is not available yet"); }
