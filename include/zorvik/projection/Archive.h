// zorvik::Archive: an archive held by value; open or create it, read what it holds, extract,
// test, and write changes, each member returning a value or an Operation and throwing Error.
#pragma once

#include <unistd.h>

#include <atomic>
#include <initializer_list>
#include <memory>
#include <optional>
#include <iterator>
#include <type_traits>
#include <span>
#include <string>
#include <vector>

#include "zorvik/Activation.h"
#include "zorvik/Archive.h"
#include "zorvik/Edit.h"
#include "zorvik/ExtractionThreads.h"
#include "zorvik/OpenedArchiveInfo.h"
#include "zorvik/VolumeUpdate.h"
#include "zorvik/projection/Addable.h"
#include "zorvik/projection/Async.h"
#include "zorvik/projection/Callbacks.h"
#include "zorvik/projection/Options.h"

namespace zorvik {

// How an archive's file is named to the component: name is the file's name without its folder
// (its extension gives the format; a single compressed file's entry is named after it); path
// names the file lock that keeps two writers of one file apart (the file's real path; empty:
// name, or a name of its own for an archive no file stands for).
struct Source {
    std::string name = {};
    std::string path = {};
    std::string file_type = {};  // without a dot; empty: what follows the name's last dot
    std::string label = {};      // what errors call the archive (its path, say); empty: name
};

namespace detail {

struct archive_state {
    zorvik::rt::com_ptr<Zorvik::IArchive> archive;
    std::string name;
    std::optional<ArchiveFolder> root;
    Stream destination;  // of an archive being created
    CompressionOptions options;
    // What extractions and updates are given when their hooks give none: the password that
    // opened the archive, else the open's own rule (or the one it was created with).
    Password password;
};

// Ranges (containers, spans, views) of projected values; <ranges> itself is left out, since
// every program that includes the projection would pay for it.
template <typename Range>
using element_of = std::remove_cvref_t<decltype(*std::begin(std::declval<const Range&>()))>;
template <typename Range>
concept item_range = requires(const Range& range) {
    std::end(range);
}
&&std::derived_from<element_of<Range>, ArchiveItem>;
template <typename Range>
concept addable_range = requires(const Range& range) {
    std::end(range);
}
&&std::same_as<element_of<Range>, Addable>;

// The ABI's arrays; the range keeps the references.
template <typename Range>
std::vector<Zorvik::IArchiveItem*> item_pointers(const Range& items) {
    std::vector<Zorvik::IArchiveItem*> pointers;
    for (const ArchiveItem& item : items) pointers.push_back(item.abi());
    return pointers;
}
template <typename Range>
std::vector<Zorvik::IArchiveAddable*> addable_pointers(const Range& items) {
    std::vector<Zorvik::IArchiveAddable*> pointers;
    for (const Addable& item : items) pointers.push_back(item.abi());
    return pointers;
}

// A lock name of its own for an archive no file stands for (one in memory, say), so that two
// such archives never wait for each other's lock.
inline std::string private_lock_name() {
    static std::atomic<std::uint64_t> next{0};
    return "zorvik-memory-" + std::to_string(::getpid()) + "-" + std::to_string(++next);
}

inline std::wstring extension_of(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    const std::size_t dot = base.rfind('.');
    return dot == std::string::npos ? std::wstring() : zorvik::rt::to_wide(base.substr(dot + 1));
}

}  // namespace detail

class Archive;

// Several changes written in one pass into one destination: removals, renames, moves and new
// entries, with conflicts checked across all of them (Archive::edit()).
class Edit {
public:
    Edit& remove(const ArchiveItem& item) {
        removed_.push_back(item);
        return *this;
    }
    Edit& rename(const ArchiveItem& item, const std::string& new_name) {
        renamed_.push_back(item);
        names_.emplace_back(zorvik::rt::to_wide(new_name));
        return *this;
    }
    // Into folder; none: the root.
    Edit& move(const ArchiveItem& item, const std::optional<ArchiveFolder>& folder) {
        moved_.push_back(item);
        targets_.push_back(folder ? folder->com().as<Zorvik::IArchiveFolder>() : nullptr);
        return *this;
    }
    Edit& add(Addable item) {
        added_.push_back(std::move(item));
        return *this;
    }
    template <detail::addable_range Range>
    Edit& add(const Range& items) {
        for (const Addable& item : items) added_.push_back(item);
        return *this;
    }

    // True when written; false when nothing changed.
    inline Operation<bool> write_async(const Stream& destination, UpdateHooks hooks = {}) const;
    bool write(const Stream& destination, UpdateHooks hooks = {}) const { return write_async(destination, std::move(hooks)).get(); }

private:
    friend class Archive;
    explicit Edit(std::shared_ptr<detail::archive_state> state) : state_(std::move(state)) {}

    std::shared_ptr<detail::archive_state> state_;
    std::vector<ArchiveItem> removed_, renamed_, moved_;
    std::vector<zorvik::rt::hstring> names_;
    std::vector<zorvik::rt::com_ptr<Zorvik::IArchiveFolder>> targets_;
    std::vector<Addable> added_;
};

class Archive {
public:
    // A new instance of the component's Archive class, activated through the module.
    Archive() : state_(std::make_shared<detail::archive_state>()) {
        try {
            state_->archive = Zorvik::ActivateInstance<Zorvik::IArchive>(L"Zorvik.Archive");
        } catch (...) {
            detail::rethrow_as_error({"Archive", {}, {}});
        }
    }
    Archive(std::nullptr_t) noexcept {}

    // Opens stream as the archive source names; NotAnArchive, PasswordRequired, WrongPassword
    // or Damaged when it cannot.
    static Operation<Archive> open_async(const Stream& stream, const Source& source = {}, OpenHooks hooks = {}) {
        Archive archive;
        auto state = archive.state_;
        state->name = source.label.empty() ? source.name : source.label;
        const ErrorContext context{"Archive::open", state->name, {}};
        const std::wstring type = source.file_type.empty() ? detail::extension_of(source.name) : zorvik::rt::to_wide(source.file_type);
        const std::string lock = !source.path.empty() ? source.path : !source.name.empty() ? source.name : detail::private_lock_name();
        state->password = hooks.password;
        auto object =
            zorvik::rt::make<detail::source_object>(type, zorvik::rt::to_wide(source.name), zorvik::rt::to_wide(lock), std::move(hooks));
        zorvik::rt::com_ptr<Zorvik::IAsyncOperation<bool>> operation;
        if (const HRESULT hr = state->archive->OpenAsync(stream.abi(), object.get(), operation.put()); FAILED(hr))
            detail::raise(hr, context);
        return Operation<Archive>(
            operation,
            [state, object, context](bool opened) {
                if (!opened) {
                    if (object->password().missing())
                        throw Error(ErrorCode::PasswordRequired, Zorvik::kWrongPassword, "encrypted: a password is required", context);
                    zorvik::rt::hstring damaged;
                    if (auto info = state->archive.try_as<Zorvik::IOpenedArchiveInfo>()) info->get_DamagedFormatName(damaged.put());
                    if (!damaged.empty())
                        throw Error(ErrorCode::Damaged, E_FAIL, "damaged or truncated " + detail::text(damaged) + " archive", context);
                    throw Error(ErrorCode::NotAnArchive, E_FAIL, "not an archive: no format can open it", context);
                }
                if (const auto& worked = object->password().last()) state->password = Password(*worked);
                return Archive(state);
            },
            [object, context](HRESULT hr) {
                if (hr == E_ABORT && object->password().rejected())
                    throw Error(ErrorCode::WrongPassword, Zorvik::kWrongPassword, "wrong password", context);
                if (hr == E_ABORT && object->password().missing())
                    throw Error(ErrorCode::PasswordRequired, Zorvik::kWrongPassword, "encrypted: a password is required", context);
                detail::raise(hr, context);
            });
    }
    static Archive open(const Stream& stream, const Source& source = {}, OpenHooks hooks = {}) {
        return open_async(stream, source, std::move(hooks)).get();
    }

    // A new, empty archive of options.format (else the one source.name's extension names) that
    // add() writes into destination; source names it as for open.
    static Archive create(const Stream& destination, const CompressionOptions& options, const Source& source = {}) {
        Archive archive;
        auto& state = *archive.state_;
        const std::string name = source.name.empty() ? "archive." + options.format : source.name;
        state.name = source.label.empty() ? name : source.label;
        state.destination = destination;
        state.options = options;
        state.password = options.password;
        const ErrorContext context{"Archive::create", state.name, {}};
        const std::wstring type = !options.format.empty()     ? zorvik::rt::to_wide(options.format)
                                  : !source.file_type.empty() ? zorvik::rt::to_wide(source.file_type)
                                                              : detail::extension_of(name);
        const std::string lock = source.path.empty() ? detail::private_lock_name() : source.path;
        auto object = zorvik::rt::make<detail::source_object>(type, zorvik::rt::to_wide(name), zorvik::rt::to_wide(lock), OpenHooks{});
        zorvik::rt::com_ptr<Zorvik::IAsyncOperation<bool>> operation;
        if (const HRESULT hr = state.archive->CreateAsync(destination.abi(), object.get(), operation.put()); FAILED(hr))
            detail::raise(hr, context);
        const bool created = Operation<bool>(
                                 operation, [](bool value) { return value; }, [context](HRESULT hr) { detail::raise(hr, context); })
                                 .get();
        if (!created) throw Error(ErrorCode::CannotWrite, E_NOTIMPL, "this format cannot be written", context);
        detail::apply(state.archive.get(), options, context);
        return archive;
    }

    const std::string& name() const noexcept { return state_->name; }
    // The engine's name of the format that opened it ("7z", "zip", "tar" of a .tar.gz ...).
    std::string format() const { return info_text(&Zorvik::IOpenedArchiveInfo::get_FormatName); }
    // The format that recognised the archive (or what an outer format held) but found it damaged
    // or cut short; empty when none did.
    std::string damaged_format() const { return info_text(&Zorvik::IOpenedArchiveInfo::get_DamagedFormatName); }
    std::uint64_t file_count() const { return get(&Zorvik::IArchive::get_FileCount, "Archive::file_count"); }
    std::uint64_t unpacked_size() const { return get(&Zorvik::IArchive::get_UnpackedSize, "Archive::unpacked_size"); }
    double compression_ratio() const { return get(&Zorvik::IArchive::get_CompressionRatio, "Archive::compression_ratio"); }
    bool has_password() const { return get(&Zorvik::IArchive::get_HasPassword, "Archive::has_password"); }
    bool can_update() const { return get(&Zorvik::IArchive::get_CanUpdate, "Archive::can_update"); }
    // A single compressed file (gz, xz ...): it holds one entry, named after the archive.
    bool keeps_name() const { return get(&Zorvik::IArchive::get_KeepsName, "Archive::keeps_name"); }
    bool has_damaged_headers() const { return info_flag(&Zorvik::IOpenedArchiveInfo::get_HasDamagedHeaders); }
    bool is_cut_short() const { return info_flag(&Zorvik::IOpenedArchiveInfo::get_IsCutShort); }
    // The most threads an extraction decodes on (0: as many as there are cores).
    void set_extraction_threads(std::uint32_t count) const {
        check(state_->archive.as<Zorvik::IExtractionThreads>()->put_ExtractionThreads(count), "Archive::set_extraction_threads");
    }
    std::uint32_t extraction_threads() const {
        std::uint32_t count = 0;
        check(state_->archive.as<Zorvik::IExtractionThreads>()->get_ExtractionThreads(&count), "Archive::extraction_threads");
        return count;
    }

    // The tree, built at the first call.
    Operation<ArchiveFolder> root_async(Progress progress = {}) const {
        auto state = state_;
        if (state->root) {
            auto done = zorvik::rt::completed_async<Zorvik::IArchiveFolder*>(state->root->com().as<Zorvik::IArchiveFolder>());
            return Operation<ArchiveFolder>(
                done, [](zorvik::rt::com_ptr<Zorvik::IArchiveFolder> root) { return ArchiveFolder(root.as<Zorvik::IArchiveItem>()); },
                [](HRESULT hr) { detail::raise(hr, {}); });
        }
        zorvik::rt::com_ptr<Zorvik::IOperationProgress> hooks;
        if (progress) hooks = zorvik::rt::make<detail::progress_object>(std::move(progress)).as<Zorvik::IOperationProgress>();
        zorvik::rt::com_ptr<Zorvik::IAsyncOperation<Zorvik::IArchiveFolder*>> operation;
        const ErrorContext context = this->context("Archive::root");
        if (const HRESULT hr = state->archive->GetRootFolderAsync(hooks.get(), operation.put()); FAILED(hr)) detail::raise(hr, context);
        return Operation<ArchiveFolder>(
            operation,
            [state](zorvik::rt::com_ptr<Zorvik::IArchiveFolder> root) {
                ArchiveFolder folder(root.as<Zorvik::IArchiveItem>());
                state->root = folder;
                return folder;
            },
            [context](HRESULT hr) { detail::raise(hr, context); });
    }
    ArchiveFolder root() const { return state_->root ? *state_->root : root_async().get(); }
    std::optional<ArchiveItem> find(std::string_view path) const { return root().find(path); }
    // The same, NotFound (naming path) when there is none.
    ArchiveItem at(std::string_view path) const { return item_at(path, "Archive::at"); }

    // Extracts items (and what folders hold) through hooks; an entry that failed is raised
    // once the run has ended unless hooks.failed answers it.
    template <detail::item_range Range>
    Operation<void> extract_async(const Range& items, ExtractionHooks hooks = {}) const {
        if (hooks.password.empty()) hooks.password = state_->password;
        auto object = zorvik::rt::make<detail::extraction_object>(std::move(hooks));
        std::vector<Zorvik::IArchiveItem*> pointers = detail::item_pointers(items);
        zorvik::rt::com_ptr<Zorvik::IAsyncOperation<bool>> operation;
        const ErrorContext context = this->context("Archive::extract");
        if (const HRESULT hr = state_->archive->ExtractAsync(static_cast<std::uint32_t>(pointers.size()), pointers.data(),
                                                             object.as<Zorvik::IExtractionCallback>().get(), operation.put());
            FAILED(hr))
            detail::raise(hr, context);
        return Operation<void>(
            operation, [object, context](bool) { raise_failure(*object, context); },
            [object, context](HRESULT hr) {
                if (hr == E_ABORT && object->password().rejected())
                    throw Error(ErrorCode::WrongPassword, Zorvik::kWrongPassword, "wrong password", context);
                // A cancel is a cancel, whatever entries it left unfinished.
                if (hr != E_ABORT) raise_failure(*object, context);
                detail::raise(hr, context);
            });
    }
    Operation<void> extract_async(std::initializer_list<ArchiveItem> items, ExtractionHooks hooks = {}) const {
        return extract_async(std::span<const ArchiveItem>(items.begin(), items.size()), std::move(hooks));
    }
    // Every entry.
    Operation<void> extract_async(ExtractionHooks hooks) const {
        const ArchiveFolder top = root();
        std::vector<ArchiveItem> children(top.children().begin(), top.children().end());
        return extract_async(children, std::move(hooks));
    }
    template <detail::item_range Range>
    void extract(const Range& items, ExtractionHooks hooks = {}) const {
        extract_async(items, std::move(hooks)).get();
    }
    void extract(std::initializer_list<ArchiveItem> items, ExtractionHooks hooks = {}) const {
        extract_async(items, std::move(hooks)).get();
    }
    void extract(ExtractionHooks hooks) const { extract_async(std::move(hooks)).get(); }

    // Decodes every entry and checks it, writing nothing: Damaged (naming the first bad entry),
    // PasswordRequired or WrongPassword when one fails.
    void test(Password password = {}, Progress progress = {}) const {
        // Each file is decoded into memory of its own, dropped once it is checked.
        extract({.file = [](const ArchiveFile&, const std::string&) { return Sink::into(Stream::memory()); },
                 .password = std::move(password),
                 .progress = std::move(progress)});
    }

    // One file's data, decoded into memory; IsAFolder for a folder.
    std::vector<std::byte> read(const ArchiveItem& item, Password password = {}) const {
        const ErrorContext context = this->context("Archive::read", item.path());
        if (item.is_folder()) throw Error(ErrorCode::IsAFolder, detail::kDirectory, "is a folder, not a file", context);
        Stream memory = Stream::memory();
        bool given = false;
        const bool no_password = password.empty() && state_->password.empty();
        extract({item}, {.file =
                             [&](const ArchiveFile&, const std::string&) {
                                 given = true;
                                 return Sink::into(memory);
                             },
                         .password = std::move(password)});
        if (!given && no_password && item.encrypted())
            throw Error(ErrorCode::PasswordRequired, Zorvik::kWrongPassword, "encrypted: a password is required", context);
        if (!given) throw Error(ErrorCode::Damaged, E_FAIL, "the archive gave no data for it", context);
        return memory.read_all();
    }
    std::vector<std::byte> read(std::string_view path, Password password = {}) const {
        return read(item_at(path, "Archive::read"), std::move(password));
    }
    std::string read_text(const ArchiveItem& item, Password password = {}) const {
        const std::vector<std::byte> bytes = read(item, std::move(password));
        return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    std::string read_text(std::string_view path, Password password = {}) const {
        return read_text(item_at(path, "Archive::read"), std::move(password));
    }

    // Updates: each writes the archive with its change into destination (for an archive being
    // created, the stream it was created on when none is given) and answers whether anything
    // was written. The archive itself still shows the tree it was opened with.
    template <detail::addable_range Range>
    Operation<bool> add_async(const Range& items, const Stream& destination = {}, UpdateHooks hooks = {}) const {
        const std::vector<Zorvik::IArchiveAddable*> pointers = detail::addable_pointers(items);
        const auto count = static_cast<std::uint32_t>(pointers.size());
        auto* list = const_cast<Zorvik::IArchiveAddable**>(pointers.data());
        const std::uint64_t volume_size = state_->options.volume_size;
        return update(
            "Archive::add", destination, std::move(hooks),
            [&](Zorvik::IArchive* archive, Zorvik::IUpdateCallback* callback, Zorvik::IRandomAccessStream* stream, auto** operation) {
                if (volume_size != 0)
                    return state_->archive.as<Zorvik::IVolumeUpdate>()->UpdateInVolumesAsync(0, nullptr, count, list, callback, volume_size,
                                                                                             stream, operation);
                return archive->AddAsync(count, list, callback, stream, operation);
            });
    }
    Operation<bool> add_async(std::initializer_list<Addable> items, const Stream& destination = {}, UpdateHooks hooks = {}) const {
        return add_async(std::span<const Addable>(items.begin(), items.size()), destination, std::move(hooks));
    }
    template <detail::addable_range Range>
    bool add(const Range& items, const Stream& destination = {}, UpdateHooks hooks = {}) const {
        return add_async(items, destination, std::move(hooks)).get();
    }
    bool add(std::initializer_list<Addable> items, const Stream& destination = {}, UpdateHooks hooks = {}) const {
        return add_async(items, destination, std::move(hooks)).get();
    }

    template <detail::item_range Range>
    Operation<bool> remove_async(const Range& items, const Stream& destination, UpdateHooks hooks = {}) const {
        std::vector<Zorvik::IArchiveItem*> pointers = detail::item_pointers(items);
        return update(
            "Archive::remove", destination, std::move(hooks),
            [&](Zorvik::IArchive* archive, Zorvik::IUpdateCallback* callback, Zorvik::IRandomAccessStream* stream, auto** operation) {
                return archive->RemoveAsync(static_cast<std::uint32_t>(pointers.size()), pointers.data(), callback, stream, operation);
            });
    }
    bool remove(std::initializer_list<ArchiveItem> items, const Stream& destination, UpdateHooks hooks = {}) const {
        return remove_async(std::span<const ArchiveItem>(items.begin(), items.size()), destination, std::move(hooks)).get();
    }
    Operation<bool> rename_async(const ArchiveItem& item, const std::string& new_name, const Stream& destination,
                                 UpdateHooks hooks = {}) const {
        const zorvik::rt::hstring name(zorvik::rt::to_wide(new_name));
        return update("Archive::rename", destination, std::move(hooks),
                      [&](Zorvik::IArchive* archive, Zorvik::IUpdateCallback* callback, Zorvik::IRandomAccessStream* stream,
                          auto** operation) { return archive->RenameAsync(item.abi(), name.get(), callback, stream, operation); });
    }
    bool rename(const ArchiveItem& item, const std::string& new_name, const Stream& destination, UpdateHooks hooks = {}) const {
        return rename_async(item, new_name, destination, std::move(hooks)).get();
    }
    template <detail::item_range Range>
    Operation<bool> move_async(const Range& items, const ArchiveFolder& target, const Stream& destination, UpdateHooks hooks = {}) const {
        std::vector<Zorvik::IArchiveItem*> pointers = detail::item_pointers(items);
        return update(
            "Archive::move", destination, std::move(hooks),
            [&](Zorvik::IArchive* archive, Zorvik::IUpdateCallback* callback, Zorvik::IRandomAccessStream* stream, auto** operation) {
                return archive->MoveAsync(static_cast<std::uint32_t>(pointers.size()), pointers.data(), target.folder_abi(), callback,
                                          stream, operation);
            });
    }

    // Several changes in one pass.
    Edit edit() const { return Edit(state_); }

    // Ends the archive's use of its stream.
    void close() const {
        zorvik::rt::com_ptr<Zorvik::IAsyncOperation<bool>> operation;
        const ErrorContext context = this->context("Archive::close");
        if (const HRESULT hr = state_->archive->CloseAsync(operation.put()); FAILED(hr)) detail::raise(hr, context);
        Operation<bool>(
            operation, [](bool value) { return value; }, [context](HRESULT hr) { detail::raise(hr, context); })
            .get();
        state_->root.reset();
    }

    Zorvik::IArchive* abi() const noexcept { return state_ ? state_->archive.get() : nullptr; }
    explicit operator bool() const noexcept { return state_ && state_->archive; }
    template <typename I>
    zorvik::rt::com_ptr<I> as() const {
        return state_->archive.template as<I>();
    }
    template <typename I>
    zorvik::rt::com_ptr<I> try_as() const noexcept {
        return state_->archive.template try_as<I>();
    }

private:
    friend class Edit;
    explicit Archive(std::shared_ptr<detail::archive_state> state) : state_(std::move(state)) {}

    ErrorContext context(const char* member, std::string entry = {}) const { return {member, state_->name, std::move(entry)}; }
    static void check(HRESULT hr, const char* member) { detail::check(hr, member); }

    template <typename T>
    T get(HRESULT (Zorvik::IArchive::*member)(T*), const char* name) const {
        T value{};
        if (const HRESULT hr = (state_->archive.get()->*member)(&value); FAILED(hr)) detail::raise(hr, context(name));
        return value;
    }
    std::string info_text(HRESULT (Zorvik::IOpenedArchiveInfo::*member)(HSTRING*)) const {
        zorvik::rt::hstring value;
        check((state_->archive.as<Zorvik::IOpenedArchiveInfo>().get()->*member)(value.put()), "Archive::format");
        return detail::text(value);
    }
    bool info_flag(HRESULT (Zorvik::IOpenedArchiveInfo::*member)(bool*)) const {
        bool value = false;
        check((state_->archive.as<Zorvik::IOpenedArchiveInfo>().get()->*member)(&value), "Archive::info");
        return value;
    }
    ArchiveItem item_at(std::string_view path, const char* member) const {
        std::optional<ArchiveItem> item = find(path);
        if (!item) throw Error(ErrorCode::NotFound, detail::kFileNotFound, "no such entry", context(member, std::string(path)));
        return *item;
    }

    static void raise_failure(const detail::extraction_object& object, const ErrorContext& context) {
        const detail::entry_failure failure = object.failure();
        if (failure.count == 0) return;
        std::string reason = failure.reason;
        if (failure.count > 1) reason += " (and " + std::to_string(failure.count - 1) + " more entries failed)";
        throw Error(failure.code, failure.hresult, reason, {context.member, context.archive, failure.entry});
    }

    // Starts an update with start(archive, callback, destination, &operation) and turns its
    // outcome into true (written), false (nothing to update) or an Error.
    template <typename Start>
    Operation<bool> update(const char* member, const Stream& destination, UpdateHooks hooks, Start&& start) const {
        const ErrorContext context = this->context(member);
        const Stream target = destination ? destination : state_->destination;
        if (!target) throw Error(ErrorCode::InvalidArgument, E_INVALIDARG, "no destination to write the archive into", context);
        if (hooks.password.empty()) hooks.password = state_->password;
        auto object = zorvik::rt::make<detail::update_object>(std::move(hooks));
        zorvik::rt::com_ptr<Zorvik::IAsyncOperation<Zorvik::UpdateResult>> operation;
        if (const HRESULT hr = start(state_->archive.get(), object.as<Zorvik::IUpdateCallback>().get(), target.abi(), operation.put());
            FAILED(hr))
            detail::raise(hr, context);
        return finish_update(operation, object, context);
    }
    static Operation<bool> finish_update(const zorvik::rt::com_ptr<Zorvik::IAsyncOperation<Zorvik::UpdateResult>>& operation,
                                         const zorvik::rt::com_ptr<detail::update_object>& object, const ErrorContext& context) {
        return Operation<bool>(
            operation,
            [object, context](Zorvik::UpdateResult result) {
                if (result == Zorvik::UpdateResult::Failure) object->raise(S_OK, context);
                return result == Zorvik::UpdateResult::Success;
            },
            [object, context](HRESULT hr) { object->raise(hr, context); });
    }

    std::shared_ptr<detail::archive_state> state_;
};

inline Operation<bool> Edit::write_async(const Stream& destination, UpdateHooks hooks) const {
    const ErrorContext context{"Edit::write", state_->name, {}};
    const auto edit = state_->archive.try_as<Zorvik::IArchiveEdit>();
    if (!edit)
        throw Error(ErrorCode::Other, E_NOINTERFACE, "several changes in one pass are not offered by this version of the component",
                    context);
    if (hooks.password.empty()) hooks.password = state_->password;
    auto object = zorvik::rt::make<detail::update_object>(std::move(hooks));
    auto removed = detail::item_pointers(removed_), renamed = detail::item_pointers(renamed_), moved = detail::item_pointers(moved_);
    std::vector<HSTRING> names;
    for (const auto& name : names_) names.push_back(name.get());
    std::vector<Zorvik::IArchiveFolder*> targets;
    for (const auto& target : targets_) targets.push_back(target.get());
    auto added = detail::addable_pointers(added_);
    zorvik::rt::com_ptr<Zorvik::IAsyncOperation<Zorvik::UpdateResult>> operation;
    if (const HRESULT hr = edit->EditAsync(
            static_cast<std::uint32_t>(removed.size()), removed.data(), static_cast<std::uint32_t>(renamed.size()), renamed.data(),
            names.data(), static_cast<std::uint32_t>(moved.size()), moved.data(), targets.data(), static_cast<std::uint32_t>(added.size()),
            added.data(), object.as<Zorvik::IUpdateCallback>().get(), destination.abi(), operation.put());
        FAILED(hr))
        detail::raise(hr, context);
    return Archive::finish_update(operation, object, context);
}

}  // namespace zorvik
