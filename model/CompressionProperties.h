// Turning compression options into the engine's named write properties.
#pragma once

#include <string_view>

#include "zorvik/Compression.h"

namespace Zorvik::Impl {

// Engine name of a method or cipher; an empty view for values without one.
std::wstring_view EngineMethodName(CompressionMethod method) noexcept;
std::wstring_view EngineCipherName(EncryptionMethod cipher) noexcept;

// Sets the write properties that the description allows on the engine's output handler
// through its ISetProperties, in one call. Without a description or options nothing is set.
// Neither the query's nor the engine's answer is examined; reading the description or the
// options may raise.
void ApplyCompressionOptions(ICompressorDescription* description, ICompressionOptions* options, std::wstring_view formatName,
                             IUnknown* outputHandler);

}  // namespace Zorvik::Impl
