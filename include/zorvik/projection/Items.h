// The tree of an opened archive as values: ArchiveItem, ArchiveFolder and ArchiveFile, with
// paths as UTF-8 joined with "/", times as zorvik::Time and ranges over a folder's children.
#pragma once

#include <chrono>
#include <ctime>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zorvik/EntryIndex.h"
#include "zorvik/Items.h"
#include "zorvik/PosixProperties.h"
#include "zorvik/projection/Error.h"

namespace zorvik {

// 100-nanosecond ticks since 1970-01-01 UTC, the archive formats' own resolution.
using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
using Time = std::chrono::time_point<std::chrono::system_clock, Ticks>;

// "YYYY-MM-DD HH:MM:SS" in UTC; blanks of that width for none.
inline std::string to_string(std::optional<Time> time) {
    if (!time) return std::string(19, ' ');
    const std::time_t seconds = std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(*time));
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

namespace detail {
// From the platform's epoch, 1601-01-01, to 1970-01-01.
inline constexpr std::int64_t kTicksFrom1601To1970 = 116'444'736'000'000'000;

// None for the platform's 0, a time the archive does not record.
inline std::optional<Time> time_from_abi(Zorvik::DateTime value) {
    if (value.UniversalTime == 0) return std::nullopt;
    return Time(Ticks(value.UniversalTime - kTicksFrom1601To1970));
}
inline Zorvik::DateTime time_to_abi(std::optional<Time> value) {
    return {value ? value->time_since_epoch().count() + kTicksFrom1601To1970 : 0};
}

inline std::string text(HSTRING value) {
    std::uint32_t length = 0;
    const wchar_t* raw = WindowsGetStringRawBuffer(value, &length);
    return zorvik::rt::to_utf8({raw, length});
}
inline std::string text(const zorvik::rt::hstring& value) { return zorvik::rt::to_utf8(value.view()); }
}  // namespace detail

class ArchiveFolder;
class ArchiveFile;

// What the archive records about an entry. Implied folders (named by no entry) have none.
class EntryProperties {
public:
    EntryProperties() = default;
    explicit EntryProperties(zorvik::rt::com_ptr<Zorvik::IArchiveEntryProperties> properties)
        : entry_(std::move(properties)), file_(entry_.as<Zorvik::IFileSystemProperties>()) {}

    // The entry's path as the archive holds it, with "/" between names.
    std::string path() const {
        zorvik::rt::hstring value;
        detail::check(file_->get_Path(value.put()), "ArchiveItem::properties");
        return detail::text(value);
    }
    std::uint64_t size() const { return get(&Zorvik::IFileSystemProperties::get_Size, "ArchiveItem::size"); }
    std::uint64_t packed_size() const {
        std::uint64_t value = 0;
        detail::check(entry_->get_PackedSize(&value), "ArchiveItem::packed_size");
        return value;
    }
    std::optional<Time> modified() const {
        return detail::time_from_abi(get(&Zorvik::IFileSystemProperties::get_DateModified, "ArchiveItem::modified"));
    }
    std::optional<Time> created() const {
        return detail::time_from_abi(get(&Zorvik::IFileSystemProperties::get_DateCreated, "ArchiveItem::created"));
    }
    std::optional<Time> accessed() const {
        return detail::time_from_abi(get(&Zorvik::IFileSystemProperties::get_DateAccessed, "ArchiveItem::accessed"));
    }
    bool encrypted() const {
        bool value = false;
        detail::check(entry_.as<Zorvik::__IArchiveEntryPropertiesPublicNonVirtuals>()->get_IsEncrypted(&value), "ArchiveItem::encrypted");
        return value;
    }
    // POSIX type and permission bits; 0 when the archive records none.
    std::uint32_t mode() const {
        std::uint32_t value = 0;
        if (const auto posix = entry_.try_as<Zorvik::IPosixEntryProperties>()) detail::check(posix->get_Mode(&value), "ArchiveItem::mode");
        return value;
    }
    std::string link_target() const { return posix_text(&Zorvik::IPosixEntryProperties::get_SymbolicLinkTarget); }
    std::string hard_link_target() const { return posix_text(&Zorvik::IPosixEntryProperties::get_HardLinkTarget); }
    // mode(), link_target() and hard_link_target() at once, for a walk that wants all three.
    struct Posix {
        std::uint32_t mode = 0;
        std::string link_target;
        std::string hard_link_target;
    };
    Posix posix() const {
        Posix result;
        const auto posix = entry_.try_as<Zorvik::IPosixEntryProperties>();
        if (!posix) return result;
        zorvik::rt::hstring link, hard;
        detail::check(posix->get_Mode(&result.mode), "ArchiveItem::mode");
        detail::check(posix->get_SymbolicLinkTarget(link.put()), "ArchiveItem::link_target");
        detail::check(posix->get_HardLinkTarget(hard.put()), "ArchiveItem::hard_link_target");
        result.link_target = detail::text(link);
        result.hard_link_target = detail::text(hard);
        return result;
    }
    // The entry's number in the archive, from 0.
    std::uint32_t index() const {
        std::uint32_t value = 0;
        detail::check(entry_.as<Zorvik::IArchiveEntryIndex>()->get_Index(&value), "ArchiveItem::index");
        return value;
    }

    explicit operator bool() const noexcept { return static_cast<bool>(entry_); }
    Zorvik::IArchiveEntryProperties* abi() const noexcept { return entry_.get(); }

private:
    template <typename T>
    T get(HRESULT (Zorvik::IFileSystemProperties::*member)(T*), const char* name) const {
        T value{};
        detail::check((file_.get()->*member)(&value), name);
        return value;
    }
    std::string posix_text(HRESULT (Zorvik::IPosixEntryProperties::*member)(HSTRING*)) const {
        const auto posix = entry_.try_as<Zorvik::IPosixEntryProperties>();
        if (!posix) return {};
        zorvik::rt::hstring value;
        detail::check((posix.get()->*member)(value.put()), "ArchiveItem::link_target");
        return detail::text(value);
    }

    zorvik::rt::com_ptr<Zorvik::IArchiveEntryProperties> entry_;
    zorvik::rt::com_ptr<Zorvik::IFileSystemProperties> file_;
};

// Any node of the tree: a file, or a folder (the root included).
class ArchiveItem {
public:
    ArchiveItem() = default;
    explicit ArchiveItem(zorvik::rt::com_ptr<Zorvik::IArchiveItem> item) : item_(std::move(item)) {}

    std::string name() const {
        zorvik::rt::hstring value;
        detail::check(item_->get_Name(value.put()), "ArchiveItem::name");
        return detail::text(value);
    }
    // Components from the root joined with "/", as UTF-8 (bytes that were no UTF-8 come back as
    // they were); empty for the root.
    std::string path() const { return detail::text(wide_path()); }
    // The same as the platform's wide text.
    zorvik::rt::hstring wide_path() const {
        zorvik::rt::hstring value;
        detail::check(item_->GetRelativePath(nullptr, value.put()), "ArchiveItem::path");
        return value;
    }
    // The path below ancestor.
    std::string path_below(const ArchiveFolder& ancestor) const;

    bool is_folder() const { return static_cast<bool>(item_.try_as<Zorvik::IArchiveFolder>()); }
    std::optional<ArchiveFolder> as_folder() const;
    std::optional<ArchiveFile> as_file() const;
    // None for the root.
    std::optional<ArchiveFolder> parent() const;

    EntryProperties properties() const {
        zorvik::rt::com_ptr<Zorvik::IArchiveEntryProperties> properties;
        detail::check(item_->get_Properties(properties.put()), "ArchiveItem::properties");
        return properties ? EntryProperties(std::move(properties)) : EntryProperties();
    }
    // Shortcuts to properties(): 0, none or false for an implied folder.
    std::uint64_t size() const {
        return with_properties([](const EntryProperties& p) { return p.size(); });
    }
    std::uint64_t packed_size() const {
        return with_properties([](const EntryProperties& p) { return p.packed_size(); });
    }
    std::optional<Time> modified() const {
        return with_properties([](const EntryProperties& p) { return p.modified(); });
    }
    bool encrypted() const {
        return with_properties([](const EntryProperties& p) { return p.encrypted(); });
    }
    std::uint32_t mode() const {
        return with_properties([](const EntryProperties& p) { return p.mode(); });
    }
    std::string link_target() const {
        return with_properties([](const EntryProperties& p) { return p.link_target(); });
    }

    Zorvik::IArchiveItem* abi() const noexcept { return item_.get(); }
    const zorvik::rt::com_ptr<Zorvik::IArchiveItem>& com() const noexcept { return item_; }
    explicit operator bool() const noexcept { return static_cast<bool>(item_); }
    friend bool operator==(const ArchiveItem& a, const ArchiveItem& b) noexcept { return a.item_.get() == b.item_.get(); }

    template <typename I>
    zorvik::rt::com_ptr<I> as() const {
        return item_.template as<I>();
    }
    template <typename I>
    zorvik::rt::com_ptr<I> try_as() const noexcept {
        return item_.template try_as<I>();
    }

protected:
    template <typename Read>
    auto with_properties(Read read) const -> decltype(read(EntryProperties())) {
        const EntryProperties entry = properties();
        if (!entry) return {};
        return read(entry);
    }

    zorvik::rt::com_ptr<Zorvik::IArchiveItem> item_;
};

class ArchiveFile : public ArchiveItem {
public:
    ArchiveFile() = default;
    explicit ArchiveFile(zorvik::rt::com_ptr<Zorvik::IArchiveItem> item) : ArchiveItem(std::move(item)) {}
};

namespace detail {

// A random-access range over one of the folder's vectors, as projected values.
template <typename Value, typename Abi>
class vector_range {
public:
    using vector_type = ABI::Windows::Foundation::Collections::IVector<Abi*>;

    class iterator {
    public:
        using value_type = Value;
        using difference_type = std::ptrdiff_t;
        using iterator_category = std::input_iterator_tag;

        iterator() = default;
        iterator(vector_type* vector, std::uint32_t index) : vector_(vector), index_(index) {}
        Value operator*() const {
            Abi* raw = nullptr;
            detail::check(vector_->GetAt(index_, &raw), "ArchiveFolder::items");
            zorvik::rt::com_ptr<Abi> owned;
            owned.attach(raw);
            if constexpr (std::is_same_v<Abi, Zorvik::IArchiveItem>)
                return Value(std::move(owned));
            else
                return Value(owned.template as<Zorvik::IArchiveItem>());
        }
        iterator& operator++() {
            ++index_;
            return *this;
        }
        iterator operator++(int) {
            iterator before = *this;
            ++index_;
            return before;
        }
        bool operator==(const iterator& other) const noexcept { return index_ == other.index_; }

    private:
        vector_type* vector_ = nullptr;
        std::uint32_t index_ = 0;
    };

    explicit vector_range(zorvik::rt::com_ptr<vector_type> vector) : vector_(std::move(vector)) {
        detail::check(vector_->get_Size(&size_), "ArchiveFolder::items");
    }
    iterator begin() const { return {vector_.get(), 0}; }
    iterator end() const { return {vector_.get(), size_}; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    Value operator[](std::uint32_t index) const { return *iterator(vector_.get(), index); }

private:
    zorvik::rt::com_ptr<vector_type> vector_;
    std::uint32_t size_ = 0;
};

}  // namespace detail

class ArchiveFolder : public ArchiveItem {
public:
    ArchiveFolder() = default;
    explicit ArchiveFolder(zorvik::rt::com_ptr<Zorvik::IArchiveItem> item) : ArchiveItem(std::move(item)) {
        folder_ = item_.as<Zorvik::IArchiveFolder>();
    }

    // Every child in the order the archive added them.
    detail::vector_range<ArchiveItem, Zorvik::IArchiveItem> children() const {
        zorvik::rt::com_ptr<Zorvik::IObservableVector<Zorvik::IArchiveItem*>> items;
        detail::check(folder_->get_Items(items.put()), "ArchiveFolder::children");
        return detail::vector_range<ArchiveItem, Zorvik::IArchiveItem>(items.as<Zorvik::IVector<Zorvik::IArchiveItem*>>());
    }
    // The sub-folders, ordered by name without regard to case.
    detail::vector_range<ArchiveFolder, Zorvik::IArchiveFolder> folders() const {
        zorvik::rt::com_ptr<Zorvik::IVector<Zorvik::IArchiveFolder*>> vector;
        detail::check(folder_->get_Folders(vector.put()), "ArchiveFolder::folders");
        return detail::vector_range<ArchiveFolder, Zorvik::IArchiveFolder>(std::move(vector));
    }
    // The files, in the order the archive lists them.
    detail::vector_range<ArchiveFile, Zorvik::IArchiveFile> files() const {
        zorvik::rt::com_ptr<Zorvik::IVector<Zorvik::IArchiveFile*>> vector;
        detail::check(folder_->get_Files(vector.put()), "ArchiveFolder::files");
        return detail::vector_range<ArchiveFile, Zorvik::IArchiveFile>(std::move(vector));
    }

    // The item at path below this folder: components joined with "/" ("" and "." stand for
    // nothing), compared exactly and with case; none when there is none.
    std::optional<ArchiveItem> find(std::string_view path) const {
        zorvik::rt::com_ptr<Zorvik::IArchiveItem> found = item_;
        zorvik::rt::com_ptr<Zorvik::IArchiveFolder> folder = folder_;
        while (!path.empty()) {
            const std::size_t slash = path.find('/');
            const std::string_view component = path.substr(0, slash);
            path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
            if (component.empty() || component == ".") continue;
            if (!folder) return std::nullopt;
            const std::wstring wanted = zorvik::rt::to_wide(component);
            zorvik::rt::com_ptr<Zorvik::IArchiveItem> match;
            for (const ArchiveItem& child : ArchiveFolder(found).children()) {
                zorvik::rt::hstring name;
                detail::check(child.abi()->get_Name(name.put()), "ArchiveFolder::find");
                if (name.view() == wanted) {
                    match = child.com();
                    break;
                }
            }
            if (!match) return std::nullopt;
            found = std::move(match);
            folder = found.try_as<Zorvik::IArchiveFolder>();
        }
        return ArchiveItem(found);
    }

    // Every item below this folder, depth first, each folder before what it holds.
    class descendant_range descendants() const;

    Zorvik::IArchiveFolder* folder_abi() const noexcept { return folder_.get(); }

private:
    zorvik::rt::com_ptr<Zorvik::IArchiveFolder> folder_;
};

class descendant_range {
public:
    class iterator {
    public:
        using value_type = ArchiveItem;
        using difference_type = std::ptrdiff_t;

        iterator() = default;
        explicit iterator(Zorvik::IArchiveFolder* top) { enter(top); }
        const ArchiveItem& operator*() const noexcept { return current_; }
        iterator& operator++() {
            if (const auto folder = current_.com().try_as<Zorvik::IArchiveFolder>()) enter(folder.get());
            advance();
            return *this;
        }
        void operator++(int) { ++*this; }
        bool operator==(std::default_sentinel_t) const noexcept { return levels_.empty(); }

    private:
        struct level {
            zorvik::rt::com_ptr<Zorvik::IVector<Zorvik::IArchiveItem*>> items;
            std::uint32_t size;
            std::uint32_t next;
        };
        void enter(Zorvik::IArchiveFolder* folder) {
            zorvik::rt::com_ptr<Zorvik::IObservableVector<Zorvik::IArchiveItem*>> items;
            detail::check(folder->get_Items(items.put()), "ArchiveFolder::descendants");
            level entered{items.as<Zorvik::IVector<Zorvik::IArchiveItem*>>(), 0, 0};
            detail::check(entered.items->get_Size(&entered.size), "ArchiveFolder::descendants");
            levels_.push_back(std::move(entered));
        }
        // To the next item of the deepest level that has one.
        void advance() {
            while (!levels_.empty()) {
                level& top = levels_.back();
                if (top.next < top.size) {
                    zorvik::rt::com_ptr<Zorvik::IArchiveItem> next;
                    detail::check(top.items->GetAt(top.next++, next.put()), "ArchiveFolder::descendants");
                    current_ = ArchiveItem(std::move(next));
                    return;
                }
                levels_.pop_back();
            }
        }
        friend class descendant_range;
        std::vector<level> levels_;
        ArchiveItem current_;
    };
    explicit descendant_range(ArchiveFolder top) : top_(std::move(top)) {}
    iterator begin() const {
        iterator first(top_.folder_abi());
        first.advance();
        return first;
    }
    std::default_sentinel_t end() const noexcept { return {}; }

private:
    ArchiveFolder top_;
};

inline descendant_range ArchiveFolder::descendants() const { return descendant_range(*this); }

inline std::optional<ArchiveFolder> ArchiveItem::as_folder() const {
    if (!item_.try_as<Zorvik::IArchiveFolder>()) return std::nullopt;
    return ArchiveFolder(item_);
}
inline std::optional<ArchiveFile> ArchiveItem::as_file() const {
    if (!item_.try_as<Zorvik::IArchiveFile>()) return std::nullopt;
    return ArchiveFile(item_);
}
inline std::optional<ArchiveFolder> ArchiveItem::parent() const {
    zorvik::rt::com_ptr<Zorvik::IArchiveFolder> parent;
    detail::check(item_->get_Parent(parent.put()), "ArchiveItem::parent");
    if (!parent) return std::nullopt;
    return ArchiveFolder(parent.as<Zorvik::IArchiveItem>());
}
inline std::string ArchiveItem::path_below(const ArchiveFolder& ancestor) const {
    zorvik::rt::hstring value;
    detail::check(item_->GetRelativePath(ancestor.folder_abi(), value.put()), "ArchiveItem::path_below");
    return detail::text(value);
}

}  // namespace zorvik
