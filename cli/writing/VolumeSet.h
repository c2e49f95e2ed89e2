// How a writing command writes an archive in volumes, NAME.001, NAME.002, ... (three digits at
// least, as 7zz names them): each volume is written as ArchiveReplacement writes one archive,
// to a temporary file beside it. Only when the whole set was written are the volumes synced and
// given their names, one right after the other; a failure or an interrupt before or during that
// removes every temporary file and every volume already named, so that no part of a set is left.
// Replacing an existing set (--force) also removes the volumes it had past the new set's end,
// which readers would take for its continuation.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli/writing/ArchiveReplacement.h"

namespace Zorvik::Cli {

class VolumeSet {
public:
    // archive is NAME as the user gave it. The first volume's temporary file is made at once.
    explicit VolumeSet(const std::string& archive);

    static std::string VolumeName(const std::string& archive, std::uint32_t number);

    // Whether NAME.001 exists.
    bool Exists() const noexcept { return volumes_.front()->Exists(); }
    // NAME.001 with every link resolved: what the component names its lock after, as it does
    // when the set is read.
    const std::string& FirstVolumePath() const noexcept { return volumes_.front()->RealPath(); }
    // A volume of the set, old or being written, which is never added to it.
    bool IsVolume(const struct stat& file) const noexcept;

    // The first volume's temporary file, for the component to write.
    zorvik::Stream Stream() const { return volumes_.front()->Stream(); }
    // The next volume's temporary file (number is the count of volumes so far plus one); a
    // CommandError when it cannot be made.
    zorvik::Stream Add(std::uint32_t number);
    // How many volumes the archive fills, as the component tells once it is written.
    void SetCount(std::uint32_t count) noexcept { count_ = count; }
    std::uint32_t Count() const noexcept { return count_; }
    std::uint64_t WrittenSize() const;

    // Names the volumes. Without replaceExisting, a volume name that is taken (or the name of
    // the volume after the last) keeps the set from being named at all.
    void Commit(bool replaceExisting);

private:
    std::string archive_;
    std::vector<std::unique_ptr<ArchiveReplacement>> volumes_;
    // The files of a set that was there before, by device and inode.
    std::vector<std::pair<dev_t, ino_t>> existing_;
    std::uint32_t count_ = 1;
};

}  // namespace Zorvik::Cli
