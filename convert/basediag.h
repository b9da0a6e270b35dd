// Diagnostics of the conversion engine and the ODBC strings: records posted
// on the calling thread's current list by SQLSTATE (its catalogue number,
// MSG_SQLSTATE_*) with the SQLSTATE's own text or a catalogue message, and
// the marks that tie a parameter row's diagnostics to the row.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaerror.h"

// Each returns the new record, so that parameters can be chained; with no
// current list (or no memory) the process-wide parameter sink is returned.
// The record's native code is msg (0 when the SQLSTATE's text is used).
KaError* baseCvtPostError(uint16_t sqlstate) noexcept;
KaError* baseCvtPostErrorMsg(uint16_t sqlstate, uint16_t msg) noexcept;
KaError* baseCvtPostWarning(uint16_t sqlstate) noexcept;

// Appends message MSG_PARAMETER_ROW with `row` to every record of `list`
// from index `first` on that does not carry it yet.
void baseAnnotateParamRow(size_t first, KaErrorList* list, uint64_t row) noexcept;
