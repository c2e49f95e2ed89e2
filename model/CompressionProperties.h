// Turning compression options into the engine's named write properties.
#pragma once

#include <string_view>

#include "engine/EngineInterfaces.h"
#include "zorvik/Compression.h"

namespace Zorvik::Impl {

// Engine name of a method or cipher; an empty view for values without one.
std::wstring_view EngineMethodName(CompressionMethod method) noexcept;
std::wstring_view EngineCipherName(EncryptionMethod cipher) noexcept;

// Sets the write properties that the description allows through the engine's output handler's
// ISetProperties (null: none), in one call. Without a description or options nothing is set.
// The engine's answer is not examined; reading the description or the options may raise.
void ApplyCompressionOptions(ICompressorDescription* description, ICompressionOptions* options, std::wstring_view formatName,
                             Engine::ISetProperties* outputHandler);

}  // namespace Zorvik::Impl
