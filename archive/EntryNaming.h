// The name of an entry that has none of its own: the archive's name without its extension, as
// single-stream formats (gzip, bzip2, xz) and data stored from a pipe have it.
#pragma once

#include <string>
#include <string_view>

#include "model/FormatRecord.h"

namespace Zorvik::Impl {

// "notes.txt.gz" gives "notes.txt"; a split volume's number goes first, so
// "backup.tar.bz2.001" gives "backup.tar". An extension that the format pairs with another
// takes that one's place: "logs.tgz" gives "logs.tar".
inline std::wstring NameForNamelessEntry(std::wstring_view archiveName, const FormatRecord* format) {
    std::wstring name(archiveName);
    while (!name.empty() && (name.back() == L'.' || name.back() == L'0' || name.back() == L'1')) name.pop_back();
    const auto dot = name.rfind(L'.');
    if (dot == std::wstring::npos) return name;
    const std::wstring_view extension = std::wstring_view(name).substr(dot + 1);
    std::wstring paired;
    if (format)
        for (const FormatExtension& pair : format->Extensions)
            if (!pair.AddExtension.empty() && NamesEqual(pair.Extension, extension)) {
                paired = pair.AddExtension;
                break;
            }
    name.erase(dot);
    return name + paired;
}

}  // namespace Zorvik::Impl
