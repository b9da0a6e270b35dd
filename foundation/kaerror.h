// Diagnostics records and lists. (Placeholder: the diagnostics work replaces
// this file with the full record and list classes.)
#pragma once

void KaErrorPostOutOfMemory() noexcept;
