// The FileSystemProperties runtime class: a detached copy of any IFileSystemProperties, whose
// name can carry a number that tells it apart from a clashing one.
#pragma once

#include <string>

#include "base/ComponentObject.h"
#include "zorvik/Items.h"

namespace Zorvik {

class FileSystemProperties : public Impl::ComponentObject<FileSystemProperties, IFileSystemProperties> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.FileSystemProperties";

    // Copies the six members of source in slot order; a failing member is raised.
    explicit FileSystemProperties(IFileSystemProperties* source);

    // The path, with a non-zero name index shown as "(n)" before the last component's extension.
    HRESULT get_Path(HSTRING* value) override;
    HRESULT get_Size(std::uint64_t* value) override;
    HRESULT get_DateModified(DateTime* value) override;
    HRESULT get_DateCreated(DateTime* value) override;
    HRESULT get_DateAccessed(DateTime* value) override;
    HRESULT get_IsFolder(bool* value) override;

    // For the update plan: counts up the name index; true while it is non-zero.
    virtual bool IncrementNameIndex();
    void SetPath(std::wstring path) { path_ = std::move(path); }
    std::wstring RenderedPath() const;
    std::uint64_t Size() const noexcept { return size_; }
    std::int64_t Modified() const noexcept { return modified_; }
    bool IsFolder() const noexcept { return isFolder_; }

private:
    std::wstring path_;
    std::uint64_t size_ = 0;
    std::int64_t modified_ = 0;
    std::int64_t created_ = 0;
    std::int64_t accessed_ = 0;
    bool isFolder_ = false;
    std::int32_t nameIndex_ = 0;
};

}  // namespace Zorvik
