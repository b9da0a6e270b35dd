// Placeholder until the diagnostics records and lists arrive.
#include "foundation/kaerror.h"

void KaErrorPostOutOfMemory() noexcept {}
