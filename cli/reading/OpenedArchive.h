// An archive file opened through the component, with its item tree built. Opening answers the
// component's questions: the password (from the PasswordSource) and further volumes (files
// beside the first one).
#pragma once

#include <cstdint>
#include <string>

#include "cli/reading/PasswordSource.h"
#include "zorvik/Zorvik.h"

namespace Zorvik::Cli {

class OpenedArchive {
public:
    // Failures end the command: CommandError with the exit code that fits.
    OpenedArchive(const std::string& path, PasswordSource& passwords);

    const zorvik::Archive& Archive() const noexcept { return archive_; }
    const zorvik::ArchiveFolder& Root() const noexcept { return root_; }
    // The path as the user gave it, for messages.
    const std::string& Name() const noexcept { return name_; }
    // The engine's name of the format whose handler opened the archive.
    const std::string& FormatName() const noexcept { return formatName_; }
    // Bytes of the archive file and of every further volume opened with it.
    std::uint64_t PackedSize() const noexcept { return packedSize_; }
    bool MultiVolume() const noexcept { return multiVolume_; }
    // A volume the archive needs that is not beside the first one (what it holds cannot be
    // read), or empty.
    const std::string& MissingVolume() const noexcept { return missingVolume_; }
    // Some headers failed their checksums; they were used as read.
    bool HasDamagedHeaders() const noexcept { return damagedHeaders_; }
    // The archive ends early: what lay past its end is missing.
    bool IsCutShort() const noexcept { return cutShort_; }

private:
    void Open(PasswordSource& passwords);

    std::string name_;
    std::string formatName_;
    std::uint64_t packedSize_ = 0;
    bool multiVolume_ = false;
    std::string missingVolume_;
    bool damagedHeaders_ = false;
    bool cutShort_ = false;
    zorvik::Archive archive_{nullptr};
    zorvik::ArchiveFolder root_;
};

}  // namespace Zorvik::Cli
