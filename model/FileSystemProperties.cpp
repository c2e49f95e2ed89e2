#include "model/FileSystemProperties.h"

#include <vector>

#include "model/AbiValues.h"
#include "model/PathComponents.h"

namespace Zorvik {

using Impl::GiveValue;

namespace {
template <typename T>
T Get(IFileSystemProperties* source, HRESULT (IFileSystemProperties::*getter)(T*)) {
    T value{};
    zorvik::rt::check_hresult((source->*getter)(&value));
    return value;
}
}  // namespace

FileSystemProperties::FileSystemProperties(IFileSystemProperties* source) {
    zorvik::rt::check_pointer(source);
    zorvik::rt::hstring path;
    zorvik::rt::check_hresult(source->get_Path(path.put()));
    path_ = path.view();
    size_ = Get(source, &IFileSystemProperties::get_Size);
    modified_ = Get(source, &IFileSystemProperties::get_DateModified).UniversalTime;
    created_ = Get(source, &IFileSystemProperties::get_DateCreated).UniversalTime;
    accessed_ = Get(source, &IFileSystemProperties::get_DateAccessed).UniversalTime;
    isFolder_ = Get(source, &IFileSystemProperties::get_IsFolder);
}

bool FileSystemProperties::IncrementNameIndex() { return ++nameIndex_ != 0; }

std::wstring FileSystemProperties::RenderedPath() const {
    if (nameIndex_ == 0 || path_.empty()) return path_;
    std::vector<std::wstring_view> components = Impl::SplitPath(path_);
    std::wstring last(components.back());
    std::size_t insertAt = last.size();
    if (const auto dot = last.rfind(L'.'); !isFolder_ && dot != std::wstring::npos) insertAt = dot;
    last.insert(insertAt, L"(" + std::to_wstring(nameIndex_) + L")");
    components.back() = last;
    std::wstring rendered;
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (i != 0) rendered += Impl::kPathSeparator;
        rendered += components[i];
    }
    return rendered;
}

HRESULT FileSystemProperties::get_Path(HSTRING* value) {
    return zorvik::rt::boundary([&] {
        zorvik::rt::check_pointer(value);
        *value = zorvik::rt::hstring(RenderedPath()).detach();
    });
}
HRESULT FileSystemProperties::get_Size(std::uint64_t* value) { return GiveValue(size_, value); }
HRESULT FileSystemProperties::get_DateModified(DateTime* value) { return GiveValue(DateTime{modified_}, value); }
HRESULT FileSystemProperties::get_DateCreated(DateTime* value) { return GiveValue(DateTime{created_}, value); }
HRESULT FileSystemProperties::get_DateAccessed(DateTime* value) { return GiveValue(DateTime{accessed_}, value); }
HRESULT FileSystemProperties::get_IsFolder(bool* value) { return GiveValue(isFolder_, value); }

}  // namespace Zorvik
