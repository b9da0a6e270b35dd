// How SQL text processing reports a refused text: as the framework's syntax
// error (SQLSTATE 42000) with a message number. The connection framework sits
// above this folder, so it installs its own poster (which files the record by
// framework error index); until it does, the record is posted on the calling
// thread's list with the SQLSTATE set directly.
#pragma once
#include <cstdint>

class KaError;

// Framework error index of a syntax error or access violation (42000).
constexpr uint16_t kSqlSyntaxErrorIndex = 51;

// Posts an error by framework error index and message number.
using SqlErrorPoster = KaError* (*)(uint16_t index, uint16_t msg) noexcept;

// null restores the built-in poster.
void sqlSetErrorPoster(SqlErrorPoster poster) noexcept;

// Posts the syntax error with the message; the record, for parameters.
KaError* sqlPostSyntaxError(uint16_t msg) noexcept;
// Posts an error by any framework error index.
KaError* sqlPostError(uint16_t index, uint16_t msg) noexcept;
