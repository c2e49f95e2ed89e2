// The name of an entry that has none of its own in a single-stream archive (gzip, bzip2, xz):
// the archive's name without its compression extension.
#pragma once

#include <string>
#include <string_view>

namespace Zorvik::Impl {

// "notes.txt.gz" gives "notes.txt"; a split volume's number goes first, so
// "backup.tar.bz2.001" gives "backup.tar".
inline std::wstring NameForNamelessEntry(std::wstring_view archiveName) {
    std::wstring name(archiveName);
    while (!name.empty() && (name.back() == L'.' || name.back() == L'0' || name.back() == L'1')) name.pop_back();
    if (const auto dot = name.rfind(L'.'); dot != std::wstring::npos) name.erase(dot);
    return name;
}

}  // namespace Zorvik::Impl
