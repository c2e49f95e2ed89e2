// The engine's formats as the component keeps them: one record per format, in probing order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/EngineModule.h"
#include "zorvik/Compression.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Impl {

// One name a format's files carry, and the name of what unpacking such a file yields
// ("tgz" gives "tar"); AddExtension is empty when the result keeps the archive's own name.
struct FormatExtension {
    std::wstring Extension;
    std::wstring AddExtension;
};

struct FormatRecord {
    std::wstring Name;
    std::vector<FormatExtension> Extensions;
    GUID ClassId{};
    // Bytes to look for near the start of a stream; empty when the format has none.
    std::vector<std::uint8_t> Signature;
    bool CanUpdate = false;
    bool KeepsName = false;
    // The writing choices of an updatable format; null for read-only formats.
    zorvik::rt::com_ptr<ICompressorDescription> Compressor;
};

using FormatList = std::vector<FormatRecord>;

// Asks the engine for its formats, afresh on every call. A failing engine call leaves the
// field it would fill empty; the format is listed all the same. "udf" is moved ahead of "iso"
// so that images carrying both file systems open as Udf.
FormatList BuildFormatList(const Engine::EngineModule& engine);

// Case-insensitive comparison of names and extensions, per character with the global locale.
bool NamesEqual(std::wstring_view a, std::wstring_view b);

}  // namespace Zorvik::Impl
