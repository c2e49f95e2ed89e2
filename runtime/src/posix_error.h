// POSIX errors as the platform's HRESULTs.
#pragma once

#include "zorvik/runtime/errors.h"

namespace zorvik::rt {

HRESULT hresult_from_errno(int error) noexcept;

// Raises the platform exception for errno's current value.
[[noreturn]] void throw_last_errno();

}  // namespace zorvik::rt
