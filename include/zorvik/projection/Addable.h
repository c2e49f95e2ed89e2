// zorvik::Addable: a new entry for an update (a file's bytes, a stream opened when the engine
// reads it, a folder or a symbolic link), with the path, time and mode it is stored with.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "zorvik/UpdateCallback.h"
#include "zorvik/projection/Items.h"
#include "zorvik/projection/Streams.h"

namespace zorvik {

class Addable {
public:
    Addable() = default;
    explicit Addable(zorvik::rt::com_ptr<Zorvik::IArchiveAddable> addable) : addable_(std::move(addable)) {}

    // What describes an entry; path is UTF-8 with "/" between names.
    struct Description {
        std::string path = {};
        std::uint64_t size = 0;
        std::optional<Time> modified = {};
        std::uint32_t mode = 0;  // POSIX type and permission bits; 0: the format's default
        bool is_folder = false;
        std::string link_target = {};  // non-empty: a symbolic link to it
    };

    // A file holding data (copied), modified now unless said otherwise.
    static Addable from_bytes(std::string path, std::span<const std::byte> data, std::optional<Time> modified = now()) {
        auto bytes = std::make_shared<const std::vector<std::byte>>(data.begin(), data.end());
        return from_stream({.path = std::move(path), .size = bytes->size(), .modified = modified, .mode = 0100644},
                           [bytes] { return Stream::memory(*bytes); });
    }
    static Addable from_text(std::string path, std::string_view text, std::optional<Time> modified = now()) {
        return from_bytes(std::move(path), std::as_bytes(std::span(text.data(), text.size())), modified);
    }
    // A file whose data open gives, each time the engine reads it (size must be what it gives).
    static Addable from_stream(Description description, std::function<Stream()> open) {
        return make(std::move(description), [open = std::move(open)] { return open().com(); });
    }
    static Addable folder(std::string path, std::optional<Time> modified = now()) {
        return make({.path = std::move(path), .modified = modified, .mode = 040755, .is_folder = true}, {});
    }
    static Addable link(std::string path, std::string target, std::optional<Time> modified = now()) {
        const std::uint64_t size = target.size();
        return make({.path = std::move(path), .size = size, .modified = modified, .mode = 0120777, .link_target = std::move(target)}, {});
    }
    // Any description, with content for files.
    static Addable make(const Description& description, std::function<zorvik::rt::com_ptr<IRandomAccessStream>()> content) {
        Zorvik::addable_description abi{.path = zorvik::rt::to_wide(description.path),
                                        .size = description.size,
                                        .modified = detail::time_to_abi(description.modified).UniversalTime,
                                        .is_folder = description.is_folder,
                                        .mode = description.mode,
                                        .symbolic_link_target = zorvik::rt::to_wide(description.link_target)};
        return Addable(Zorvik::make_archive_addable(std::move(abi), std::move(content)).as<Zorvik::IArchiveAddable>());
    }

    static Time now() { return std::chrono::time_point_cast<Ticks>(std::chrono::system_clock::now()); }

    bool is_folder() const {
        bool folder = false;
        detail::check(addable_.as<Zorvik::IFileSystemProperties>()->get_IsFolder(&folder), "Addable::is_folder");
        return folder;
    }

    Zorvik::IArchiveAddable* abi() const noexcept { return addable_.get(); }

private:
    zorvik::rt::com_ptr<Zorvik::IArchiveAddable> addable_;
};

}  // namespace zorvik
