// zorvik._zorvik: the binding of the projection and the files layer for the Python package.
//
// Every call into the component runs on a worker thread of its own while the calling thread
// waits without the GIL, in short slices between which it checks for signals. Callbacks into
// Python (progress, passwords, conflicts, file objects) take the GIL on the component's
// threads. A Python exception there, or a signal seen by the waiting thread, cancels the
// operation through its hooks; once it has ended, the exception is raised in its place.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include "zorvik/Zorvik.h"
#include "zorvik/files/Files.h"
#include "zorvik/projection/Writer.h"

namespace py = pybind11;
using namespace std::chrono_literals;

namespace {

// ---- Running an operation -----------------------------------------------------------------

// What one call shares with the hooks it hands the component: whether to stop, and the first
// Python exception a hook raised.
struct Run {
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::exception_ptr error;

    void fail(std::exception_ptr raised) {
        {
            std::lock_guard lock(mutex);
            if (!error) error = std::move(raised);
        }
        cancelled = true;
    }
    std::exception_ptr failure() {
        std::lock_guard lock(mutex);
        return error;
    }
};

// A Python object that component threads may hold: its last reference is dropped with the GIL.
struct PyRef {
    py::object object;
    explicit PyRef(py::object o) : object(std::move(o)) {}
    PyRef(const PyRef&) = delete;
    ~PyRef() {
        if (!Py_IsInitialized()) {
            object.release();
            return;
        }
        py::gil_scoped_acquire gil;
        object = py::object();
    }
};
using Shared = std::shared_ptr<PyRef>;

Shared share(const py::object& object) { return object.is_none() ? nullptr : std::make_shared<PyRef>(object); }

// Runs work on a thread of its own and waits for it without the GIL; a signal (KeyboardInterrupt)
// cancels run and is raised once work has ended, as is any exception a hook raised.
template <typename Work>
auto perform(const std::shared_ptr<Run>& run, Work work) -> decltype(work()) {
    using Result = decltype(work());
    std::packaged_task<Result()> task(std::move(work));
    std::future<Result> result = task.get_future();
    std::thread worker;
    {
        py::gil_scoped_release released;
        worker = std::thread(std::move(task));
    }
    for (;;) {
        bool ready = false;
        {
            py::gil_scoped_release released;
            ready = result.wait_for(50ms) == std::future_status::ready;
        }
        if (ready) break;
        if (!run->cancelled && PyErr_CheckSignals() != 0) run->fail(std::make_exception_ptr(py::error_already_set()));
    }
    {
        py::gil_scoped_release released;
        worker.join();
    }
    if (const std::exception_ptr raised = run->failure()) std::rethrow_exception(raised);
    return result.get();
}

// ---- Hooks into Python --------------------------------------------------------------------

zorvik::Progress progress_hook(const std::shared_ptr<Run>& run, const py::object& callable) {
    Shared shared = share(callable);
    return [run, shared](std::uint64_t done, std::uint64_t total) {
        if (run->cancelled) return zorvik::ProgressAnswer::Cancel;
        if (!shared) return zorvik::ProgressAnswer::Continue;
        py::gil_scoped_acquire gil;
        try {
            const py::object answer = shared->object(done, total);
            if (!answer.is_none() && answer.equal(py::bool_(false))) return zorvik::ProgressAnswer::Cancel;
        } catch (py::error_already_set&) {
            run->fail(std::current_exception());
            return zorvik::ProgressAnswer::Cancel;
        }
        return zorvik::ProgressAnswer::Continue;
    };
}

constexpr int kPasswordAttempts = 5;

// None, a str, or a callable asked with the attempt number (1 first) that answers a str, or
// None to give up; asked at most kPasswordAttempts times in one operation.
zorvik::Password password_rule(const std::shared_ptr<Run>& run, const py::object& password) {
    if (password.is_none()) return {};
    if (py::isinstance<py::str>(password)) return zorvik::Password(password.cast<std::string>());
    if (py::isinstance<py::bytes>(password)) return zorvik::Password(std::string(password.cast<py::bytes>()));
    Shared shared = share(password);
    return zorvik::Password([run, shared](int attempt) -> std::optional<std::string> {
        if (run->cancelled || attempt > kPasswordAttempts) return std::nullopt;
        py::gil_scoped_acquire gil;
        try {
            const py::object answer = shared->object(attempt);
            if (answer.is_none()) return std::nullopt;
            if (py::isinstance<py::bytes>(answer)) return std::string(answer.cast<py::bytes>());
            return answer.cast<std::string>();
        } catch (py::error_already_set&) {
            run->fail(std::current_exception());
        } catch (py::cast_error&) {
            run->fail(std::make_exception_ptr(py::type_error("the password callable must answer a str or None")));
        }
        return std::nullopt;
    });
}

py::str decode(const std::string& text) {
    PyObject* object = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape");
    if (!object) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(object);
}

std::string encode(const py::handle& text) {
    if (py::isinstance<py::bytes>(text)) return std::string(py::reinterpret_borrow<py::bytes>(text));
    PyObject* bytes = PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogateescape");
    if (!bytes) throw py::error_already_set();
    return std::string(py::reinterpret_steal<py::bytes>(bytes));
}

// ---- A Python file object as an archive's source --------------------------------------------

// Reads a seekable binary file object from the component's threads, with the GIL, at the
// position of each stream (clones keep positions of their own).
class FileObjectStream final
    : public zorvik::rt::implements<FileObjectStream, ABI::Windows::Storage::Streams::IRandomAccessStream,
                                    ABI::Windows::Storage::Streams::IInputStream, ABI::Windows::Foundation::IClosable> {
public:
    static constexpr const char* runtime_class_name = "zorvik.python.FileObjectStream";
    FileObjectStream(Shared file, std::uint64_t start, std::uint64_t size, std::shared_ptr<Run> run)
        : file_(std::move(file)), start_(start), size_(size), run_(std::move(run)) {}

    HRESULT get_Size(std::uint64_t* size) override {
        if (!size) return E_POINTER;
        *size = size_;
        return S_OK;
    }
    HRESULT put_Size(std::uint64_t) override { return E_ACCESSDENIED; }
    HRESULT GetInputStreamAt(std::uint64_t position, ABI::Windows::Storage::Streams::IInputStream** stream) override {
        if (!stream) return E_POINTER;
        auto clone = zorvik::rt::make<FileObjectStream>(file_, start_, size_, run_);
        clone->position_ = position;
        *stream = clone.as<ABI::Windows::Storage::Streams::IInputStream>().detach();
        return S_OK;
    }
    HRESULT GetOutputStreamAt(std::uint64_t, ABI::Windows::Storage::Streams::IOutputStream** stream) override {
        if (stream) *stream = nullptr;
        return E_ACCESSDENIED;
    }
    HRESULT get_Position(std::uint64_t* position) override {
        if (!position) return E_POINTER;
        *position = position_;
        return S_OK;
    }
    HRESULT Seek(std::uint64_t position) override {
        position_ = position;
        return S_OK;
    }
    HRESULT CloneStream(ABI::Windows::Storage::Streams::IRandomAccessStream** stream) override {
        if (!stream) return E_POINTER;
        auto clone = zorvik::rt::make<FileObjectStream>(file_, start_, size_, run_);
        clone->position_ = position_.load();
        *stream = clone.as<ABI::Windows::Storage::Streams::IRandomAccessStream>().detach();
        return S_OK;
    }
    HRESULT get_CanRead(bool* can) override {
        if (!can) return E_POINTER;
        *can = true;
        return S_OK;
    }
    HRESULT get_CanWrite(bool* can) override {
        if (!can) return E_POINTER;
        *can = false;
        return S_OK;
    }
    HRESULT ReadAsync(ABI::Windows::Storage::Streams::IBuffer* buffer, std::uint32_t count,
                      ABI::Windows::Storage::Streams::InputStreamOptions,
                      ABI::Windows::Foundation::IAsyncOperation<ABI::Windows::Storage::Streams::IBuffer*>** operation) override {
        if (!buffer || !operation) return E_POINTER;
        *operation = nullptr;
        if (run_->cancelled) return E_ABORT;
        return zorvik::rt::boundary([&] {
            count = std::min(count, zorvik::rt::buffer_capacity(buffer));
            const std::uint64_t position = position_;
            const std::uint64_t left = position < size_ ? size_ - position : 0;
            std::uint32_t length = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, left));
            if (length > 0) {
                py::gil_scoped_acquire gil;
                try {
                    file_->object.attr("seek")(start_ + position);
                    const py::bytes data = file_->object.attr("read")(length);
                    const std::string_view bytes(data);
                    length = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), length));
                    std::memcpy(zorvik::rt::buffer_data(buffer), bytes.data(), length);
                } catch (py::error_already_set&) {
                    run_->fail(std::current_exception());
                    zorvik::rt::throw_hresult(E_ABORT);
                }
            }
            zorvik::rt::check_hresult(buffer->put_Length(length));
            position_ = position + length;
            *operation = zorvik::rt::completed_async<ABI::Windows::Storage::Streams::IBuffer*>(
                             zorvik::rt::com_ptr<ABI::Windows::Storage::Streams::IBuffer>::copy_from(buffer))
                             .detach();
        });
    }
    HRESULT Close() override { return S_OK; }

private:
    Shared file_;
    std::uint64_t start_;
    std::uint64_t size_;
    std::shared_ptr<Run> run_;
    std::atomic<std::uint64_t> position_{0};
};

// ---- Entries ------------------------------------------------------------------------------

struct EntryData {
    std::string path, name, link_target;
    bool is_dir = false;
    std::uint64_t size = 0, packed_size = 0;
    std::optional<std::int64_t> modified;  // 100 ns ticks since 1970 (UTC)
    bool encrypted = false;
    std::uint32_t mode = 0;
};

// Depth first, each folder before what it holds; paths built on the way down.
void gather(const zorvik::Archive& archive, const zorvik::ArchiveFolder& folder, const std::string& prefix,
            std::vector<EntryData>& entries) {
    for (const zorvik::ArchiveItem& item : folder.children()) {
        EntryData& entry = entries.emplace_back();
        entry.name = item.name();
        entry.path = prefix.empty() ? entry.name : prefix + "/" + entry.name;
        const std::optional<zorvik::ArchiveFolder> inner = item.as_folder();
        entry.is_dir = inner.has_value();
        if (const zorvik::EntryProperties properties = item.properties()) {
            if (!entry.is_dir) entry.size = properties.size();
            entry.packed_size = properties.packed_size();
            if (const auto modified = properties.modified()) entry.modified = modified->time_since_epoch().count();
            entry.encrypted = properties.encrypted();
            entry.mode = properties.mode();
            if ((entry.mode & 0170000) == 0120000 || (entry.mode & 0170000) == 0) entry.link_target = properties.link_target();
            // A format that keeps a link's target as its data (zip) names none.
            if ((entry.mode & 0170000) == 0120000 && entry.link_target.empty() && entry.size > 0 && entry.size < 4096) {
                const std::vector<std::byte> target = archive.read(item);
                entry.link_target.assign(reinterpret_cast<const char*>(target.data()), target.size());
            }
        }
        if (inner) {
            const std::string path = entry.path;  // entries may move as they grow
            gather(archive, *inner, path, entries);
        }
    }
}

std::vector<EntryData> gather(const zorvik::Archive& archive) {
    std::vector<EntryData> entries;
    entries.reserve(static_cast<std::size_t>(archive.file_count()));
    gather(archive, archive.root(), {}, entries);
    return entries;
}

// ---- Streaming one entry ------------------------------------------------------------------

// Chunks an extraction hands over as it decodes, at most kLimit bytes ahead of the reader.
struct Pipe {
    static constexpr std::size_t kLimit = 4u << 20;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> chunks;
    std::size_t held = 0;
    bool ended = false;   // the extraction has ended
    bool closed = false;  // the reader has gone
};

class EntryReader {
public:
    EntryReader(const zorvik::Archive& archive, const zorvik::ArchiveItem& item, const py::object& password)
        : run_(std::make_shared<Run>()), pipe_(std::make_shared<Pipe>()) {
        auto pipe = pipe_;
        zorvik::Stream sink = zorvik::writer_stream([pipe](std::span<const std::byte> bytes) {
            std::unique_lock lock(pipe->mutex);
            pipe->changed.wait(lock, [&] { return pipe->closed || pipe->held < Pipe::kLimit; });
            if (pipe->closed) zorvik::rt::throw_hresult(E_ABORT);
            pipe->chunks.emplace_back(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            pipe->held += bytes.size();
            pipe->changed.notify_all();
        });
        zorvik::ExtractionHooks hooks{.file = [sink](const zorvik::ArchiveFile&, const std::string&) { return zorvik::Sink::into(sink); },
                                      .password = password_rule(run_, password),
                                      .progress = progress_hook(run_, py::none())};
        const std::vector<zorvik::ArchiveItem> items{item};
        py::gil_scoped_release released;
        operation_ = archive.extract_async(items, std::move(hooks));
        operation_.on_completed([pipe](const zorvik::Operation<void>&) {
            std::lock_guard lock(pipe->mutex);
            pipe->ended = true;
            pipe->changed.notify_all();
        });
    }
    ~EntryReader() {
        py::gil_scoped_release released;
        stop();
    }

    // Up to size bytes (every byte left when size < 0); b"" at the end.
    py::bytes read(Py_ssize_t size) {
        std::string out;
        for (;;) {
            bool ended = false;
            {
                py::gil_scoped_release released;
                std::unique_lock lock(pipe_->mutex);
                pipe_->changed.wait_for(lock, 50ms, [&] { return !pipe_->chunks.empty() || pipe_->ended; });
                while (!pipe_->chunks.empty() && (size < 0 || out.size() < static_cast<std::size_t>(size))) {
                    std::string& chunk = pipe_->chunks.front();
                    const std::size_t wanted =
                        size < 0 ? chunk.size() : std::min(chunk.size(), static_cast<std::size_t>(size) - out.size());
                    out.append(chunk, 0, wanted);
                    pipe_->held -= wanted;
                    if (wanted == chunk.size())
                        pipe_->chunks.pop_front();
                    else
                        chunk.erase(0, wanted);
                }
                pipe_->changed.notify_all();
                ended = pipe_->ended && pipe_->chunks.empty();
            }
            if (size >= 0 && out.size() == static_cast<std::size_t>(size) && size > 0) break;
            if (ended) {
                if (!finished_) {
                    finished_ = true;
                    if (const std::exception_ptr raised = run_->failure()) std::rethrow_exception(raised);
                    py::gil_scoped_release released;
                    operation_.get();  // ended: raises what failed it
                }
                break;
            }
            if (size >= 0 && !out.empty()) break;  // a short read once something came, as a raw stream does
            if (size == 0) break;
            if (PyErr_CheckSignals() != 0) {
                py::error_already_set interrupted;
                py::gil_scoped_release released;
                stop();
                throw interrupted;
            }
        }
        return py::bytes(out);
    }

    void close() {
        py::gil_scoped_release released;
        stop();
    }

private:
    // Ends the extraction, if it still runs, and waits for it.
    void stop() {
        {
            std::lock_guard lock(pipe_->mutex);
            pipe_->closed = true;
            pipe_->chunks.clear();
            pipe_->held = 0;
            pipe_->changed.notify_all();
        }
        if (!stopped_) {
            stopped_ = true;
            run_->cancelled = true;
            operation_.cancel();
            std::unique_lock lock(pipe_->mutex);
            pipe_->changed.wait(lock, [&] { return pipe_->ended; });
        }
    }

    std::shared_ptr<Run> run_;
    std::shared_ptr<Pipe> pipe_;
    zorvik::Operation<void> operation_;
    bool finished_ = false;
    bool stopped_ = false;
};

// ---- Archives -----------------------------------------------------------------------------

zorvik::Method method_named(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static const std::pair<const char*, zorvik::Method> methods[] = {
        {"copy", zorvik::Method::Copy},           {"store", zorvik::Method::Copy},      {"stored", zorvik::Method::Copy},
        {"lzma", zorvik::Method::LZMA},           {"lzma2", zorvik::Method::LZMA2},     {"ppmd", zorvik::Method::PPMd},
        {"bzip2", zorvik::Method::BZip2},         {"deflate", zorvik::Method::Deflate}, {"deflated", zorvik::Method::Deflate},
        {"deflate64", zorvik::Method::Deflate64},
    };
    for (const auto& [known, method] : methods)
        if (name == known) return method;
    throw py::value_error("unknown method '" + name + "' (copy, lzma, lzma2, ppmd, bzip2, deflate, deflate64)");
}

// The options of a new archive from keywords.
struct CreateOptions {
    std::string format;
    std::optional<std::string> method;
    std::optional<int> level;
    py::object password = py::none();
    std::optional<std::string> encryption;
    bool encrypt_headers = false;
    std::optional<bool> solid;
};

zorvik::CompressionOptions compression(const std::shared_ptr<Run>& run, const CreateOptions& given) {
    zorvik::CompressionOptions options{.format = given.format};
    if (given.method) options.method = method_named(*given.method);
    if (given.level) {
        if (*given.level < 0 || *given.level > 9) throw py::value_error("level must be 0 to 9");
        options.level = static_cast<zorvik::Level>(*given.level);
    }
    options.password = password_rule(run, given.password);
    if (given.encryption) {
        if (*given.encryption == "aes256" || *given.encryption == "aes")
            options.encryption = zorvik::Encryption::AES256;
        else if (*given.encryption == "zipcrypto")
            options.encryption = zorvik::Encryption::ZipCrypto;
        else
            throw py::value_error("unknown encryption '" + *given.encryption + "' (aes256, zipcrypto)");
    }
    options.encrypt_headers = given.encrypt_headers;
    options.solid = given.solid;
    return options;
}

// A change: ("add", disk_path, arcname|None), ("bytes", arcname, data), ("remove", path),
// ("rename", path, new_name), ("move", path, folder).
struct Change {
    std::string kind, first;
    std::optional<std::string> second;
    std::string data;
};

std::vector<Change> changes_from(const py::list& list) {
    std::vector<Change> changes;
    for (const py::handle& entry : list) {
        const py::tuple tuple = py::reinterpret_borrow<py::tuple>(entry);
        Change change{tuple[0].cast<std::string>(), encode(tuple[1]), {}, {}};
        if (change.kind == "bytes")
            change.data = std::string(tuple[2].cast<py::bytes>());
        else if (!tuple[2].is_none())
            change.second = encode(tuple[2]);
        changes.push_back(std::move(change));
    }
    return changes;
}

std::vector<zorvik::Addable> addables(const Change& change) {
    if (change.kind == "bytes")
        return {zorvik::Addable::from_bytes(change.first, std::as_bytes(std::span(change.data.data(), change.data.size())))};
    return zorvik::files::addables_from_disk(change.first, change.second);
}

// Conflict answers by the new path's top: (arcname, "replace"|"skip"|"rename").
using Policies = std::vector<std::pair<std::string, std::string>>;

std::function<zorvik::ConflictAnswer(const zorvik::ArchiveItem&, const std::string&)> conflict_hook(Policies policies) {
    if (policies.empty()) return {};
    return [policies = std::move(policies)](const zorvik::ArchiveItem& existing, const std::string& new_path) {
        for (const auto& [top, policy] : policies) {
            if (new_path == top ||
                (new_path.size() > top.size() && new_path.compare(0, top.size(), top) == 0 && new_path[top.size()] == '/') || top.empty()) {
                if (policy == "replace") return zorvik::ConflictAnswer::Replace;
                if (policy == "skip") return zorvik::ConflictAnswer::Skip;
                if (policy == "rename") return zorvik::ConflictAnswer::AddUnderOtherName;
            }
        }
        throw zorvik::Error(zorvik::ErrorCode::AlreadyExists, zorvik::detail::kAlreadyExists, "already exists",
                            {"Archive.close", {}, existing.path()});
    };
}

std::vector<std::byte> stream_bytes(const zorvik::Stream& stream) { return stream.read_all(); }

py::bytes to_bytes(const std::vector<std::byte>& data) { return py::bytes(reinterpret_cast<const char*>(data.data()), data.size()); }

class PyArchive {
public:
    // Opens the archive at path (its volumes beside it).
    static PyArchive open_path(const py::object& path, const py::object& password) {
        auto run = std::make_shared<Run>();
        const std::string name = encode(path);
        zorvik::OpenHooks hooks{.password = password_rule(run, password)};
        return PyArchive(perform(run, [&] { return zorvik::files::open(name, std::move(hooks)); }));
    }
    // Opens a seekable binary file object from its position on; label is what errors call it.
    static PyArchive open_file(const py::object& file, const std::string& label, const std::string& format, const py::object& password) {
        auto run = std::make_shared<Run>();
        const std::uint64_t start = file.attr("tell")().cast<std::uint64_t>();
        const std::uint64_t end = file.attr("seek")(0, 2).cast<std::uint64_t>();
        file.attr("seek")(start);
        auto stream = zorvik::rt::make<FileObjectStream>(share(file), start, end > start ? end - start : 0, run);
        const zorvik::Stream source(stream.as<ABI::Windows::Storage::Streams::IRandomAccessStream>());
        zorvik::OpenHooks hooks{.password = password_rule(run, password)};
        const zorvik::Source named{.name = label, .path = zorvik::detail::private_lock_name(), .file_type = format, .label = label};
        PyArchive archive(perform(run, [&] { return zorvik::Archive::open(source, named, std::move(hooks)); }));
        archive.file_run_ = run;
        return archive;
    }

    py::list entries() {
        auto run = std::make_shared<Run>();
        const std::vector<EntryData> entries = perform(run, [&] { return gather(archive_); });
        py::list list(entries.size());
        std::size_t index = 0;
        for (const EntryData& entry : entries) {
            list[index++] = py::make_tuple(decode(entry.path), decode(entry.name), entry.is_dir, entry.size, entry.packed_size,
                                           entry.modified ? py::cast(*entry.modified) : py::none(), entry.encrypted, entry.mode,
                                           entry.link_target.empty() ? py::none() : py::object(decode(entry.link_target)));
        }
        return list;
    }

    py::dict info() {
        auto run = std::make_shared<Run>();
        struct Facts {
            std::string format;
            std::uint64_t unpacked = 0, files = 0;
            bool can_update = false, encrypted = false, damaged = false, cut_short = false;
        };
        const Facts facts = perform(run, [&] {
            return Facts{archive_.format(),       archive_.unpacked_size(),       archive_.file_count(),  archive_.can_update(),
                         archive_.has_password(), archive_.has_damaged_headers(), archive_.is_cut_short()};
        });
        py::dict dict;
        dict["format"] = facts.format;
        dict["unpacked_size"] = facts.unpacked;
        dict["file_count"] = facts.files;
        dict["can_update"] = facts.can_update;
        dict["encrypted"] = facts.encrypted;
        dict["damaged"] = facts.damaged || facts.cut_short;
        return dict;
    }

    py::bytes read(const py::object& path, const py::object& password) {
        auto run = std::make_shared<Run>();
        const std::string name = encode(path);
        zorvik::Password rule = password_rule(run, password);
        const std::vector<std::byte> data = perform(run, [&] { return archive_.read(name, std::move(rule)); });
        return to_bytes(data);
    }

    std::unique_ptr<EntryReader> open_entry(const py::object& path, const py::object& password) {
        auto run = std::make_shared<Run>();
        const std::string name = encode(path);
        const zorvik::ArchiveItem item = perform(run, [&] {
            zorvik::ArchiveItem found = archive_.at(name);
            if (found.is_folder())
                throw zorvik::Error(zorvik::ErrorCode::IsAFolder, zorvik::detail::kDirectory, "is a folder, not a file",
                                    {"Archive.open_entry", archive_.name(), name});
            return found;
        });
        return std::make_unique<EntryReader>(archive_, item, password);
    }

    // Into folder, safely; members none: every entry. The number of files written.
    py::dict extract(const py::object& folder, const std::optional<std::vector<py::object>>& members, bool overwrite,
                     bool preserve_permissions, const py::object& password, const py::object& progress) {
        auto run = std::make_shared<Run>();
        const std::string target = encode(folder);
        std::vector<std::string> names;
        if (members)
            for (const py::object& member : *members) names.push_back(encode(member));
        zorvik::files::ExtractOptions options{
            .existing = overwrite ? zorvik::files::ExistingFiles::Overwrite : zorvik::files::ExistingFiles::Fail,
            .password = password_rule(run, password),
            .progress = progress_hook(run, progress),
            .preserve_permissions = preserve_permissions};
        const zorvik::files::ExtractReport report = perform(run, [&] {
            std::vector<zorvik::ArchiveItem> items;
            for (const std::string& name : names) items.push_back(archive_.at(name));
            if (members && items.empty()) return zorvik::files::ExtractReport{};
            return zorvik::files::extract(archive_, target, options, items);
        });
        py::dict dict;
        dict["files"] = report.files;
        dict["folders"] = report.folders;
        dict["links"] = report.links;
        return dict;
    }

    void test(const py::object& password, const py::object& progress) {
        auto run = std::make_shared<Run>();
        zorvik::Password rule = password_rule(run, password);
        zorvik::Progress hook = progress_hook(run, progress);
        perform(run, [&] { archive_.test(std::move(rule), std::move(hook)); });
    }

    // Writes the changes in one pass: over the archive at path (safely), or into memory,
    // whose bytes are returned. False: nothing changed.
    py::object write_changes(const py::object& path, const py::list& list, const Policies& policies, const py::object& password,
                             const py::object& progress) {
        auto run = std::make_shared<Run>();
        const std::vector<Change> changes = changes_from(list);
        const std::optional<std::string> target = path.is_none() ? std::nullopt : std::optional(encode(path));
        zorvik::UpdateHooks hooks{
            .conflict = conflict_hook(policies), .password = password_rule(run, password), .progress = progress_hook(run, progress)};
        std::optional<std::vector<std::byte>> written = perform(run, [&]() -> std::optional<std::vector<std::byte>> {
            zorvik::Edit edit = archive_.edit();
            for (const Change& change : changes) {
                if (change.kind == "add" || change.kind == "bytes") {
                    edit.add(addables(change));
                } else if (change.kind == "remove") {
                    edit.remove(archive_.at(change.first));
                } else if (change.kind == "rename") {
                    edit.rename(archive_.at(change.first), change.second.value_or(""));
                } else if (change.kind == "move") {
                    std::optional<zorvik::ArchiveFolder> folder;
                    if (change.second && !change.second->empty()) {
                        folder = archive_.at(*change.second).as_folder();
                        if (!folder)
                            throw zorvik::Error(zorvik::ErrorCode::InvalidArgument, E_INVALIDARG, "is a file, not a folder",
                                                {"Archive.move", archive_.name(), *change.second});
                    }
                    edit.move(archive_.at(change.first), folder);
                }
            }
            if (target) {
                zorvik::files::Replacement replacement(*target);
                if (!edit.write(replacement.stream(), std::move(hooks))) return std::nullopt;
                archive_.close();
                replacement.commit(true);
                return std::vector<std::byte>{};
            }
            const zorvik::Stream memory = zorvik::Stream::memory();
            if (!edit.write(memory, std::move(hooks))) return std::nullopt;
            return stream_bytes(memory);
        });
        if (!written) return py::bool_(false);
        if (target) return py::bool_(true);
        return to_bytes(*written);
    }

    void close() {
        auto run = std::make_shared<Run>();
        if (archive_) perform(run, [&] { archive_.close(); });
    }

    const std::string& name() const { return archive_.name(); }

private:
    explicit PyArchive(zorvik::Archive archive) : archive_(std::move(archive)) {}

    zorvik::Archive archive_;
    std::shared_ptr<Run> file_run_;  // of a file object's stream, which outlives its open
};

// A file of its own in $TMPDIR (else /tmp), removed with this object.
struct TemporaryFile {
    std::string path;
    TemporaryFile() {
        const char* folder = std::getenv("TMPDIR");
        path = std::string(folder && *folder ? folder : "/tmp") + "/zorvik-tar-XXXXXX";
        const int fd = ::mkstemp(path.data());
        if (fd < 0) zorvik::detail::raise(HRESULT_FROM_WIN32(5), {"zorvik.open", path, {}});
        ::close(fd);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    ~TemporaryFile() { ::unlink(path.c_str()); }
};

// A new archive of the changes' additions: at path (an existing file replaced), or in memory,
// whose bytes are returned.
py::object create(const py::object& path, const py::list& list, const CreateOptions& given, const py::object& progress) {
    auto run = std::make_shared<Run>();
    const std::vector<Change> changes = changes_from(list);
    const zorvik::CompressionOptions options = compression(run, given);
    const std::optional<std::string> target = path.is_none() ? std::nullopt : std::optional(encode(path));
    zorvik::Progress hook = progress_hook(run, progress);
    std::vector<std::byte> written = perform(run, [&] {
        std::vector<zorvik::Addable> items;
        for (const Change& change : changes)
            for (zorvik::Addable& item : addables(change)) items.push_back(std::move(item));
        zorvik::CompressionOptions chosen = options;
        // "tar.gz" and its kind: the tar goes into a temporary file, which the outer format
        // then compresses as its one entry.
        std::optional<TemporaryFile> tar;
        if (chosen.format.rfind("tar.", 0) == 0) {
            tar.emplace();
            const zorvik::Stream stream = zorvik::Stream::create_file(tar->path, true);
            const zorvik::Archive inner = zorvik::Archive::create(stream, {.format = "tar"}, {.name = "archive.tar"});
            inner.add(items, stream, {.progress = hook});
            inner.close();
            const std::uint64_t size = stream.size();
            std::string name = target ? std::filesystem::path(*target).filename().string() : "archive.tar";
            if (name.size() > chosen.format.size() - 3 && name.ends_with(chosen.format.substr(3)))
                name.resize(name.size() - (chosen.format.size() - 3));
            if (!name.ends_with(".tar")) name += ".tar";
            items = {zorvik::Addable::from_stream({.path = name, .size = size, .modified = zorvik::Addable::now(), .mode = 0100644},
                                                  [path = tar->path] { return zorvik::Stream::open_file(path); })};
            chosen.format = chosen.format.substr(4);
        }
        zorvik::files::Replacement* replacing = nullptr;
        std::optional<zorvik::files::Replacement> replacement;
        zorvik::Stream destination;
        if (target) {
            replacement.emplace(*target);
            replacing = &*replacement;
            destination = replacing->stream();
        } else {
            destination = zorvik::Stream::memory();
        }
        const zorvik::Archive archive = zorvik::Archive::create(destination, chosen, {.name = "archive." + chosen.format});
        archive.add(items, destination, {.progress = std::move(hook)});
        archive.close();
        if (replacing) {
            replacing->commit(true);
            return std::vector<std::byte>{};
        }
        return stream_bytes(destination);
    });
    if (target) return py::none();
    return to_bytes(written);
}

py::list formats() {
    py::list list;
    for (const auto& format : zorvik::formats()) list.append(py::make_tuple(format.name, format.extension, format.can_update));
    return list;
}

}  // namespace

PYBIND11_MODULE(_zorvik, m) {
    m.doc() = "The archive component's binding; use the zorvik package, not this module.";
    // Without TZ the C library checks /etc/localtime on every local-time conversion, and the
    // engine makes two for every zip entry it lists (a stat each: a third of a listing's time);
    // naming the same file, as an unset TZ means, reads it once. A TZ already set is kept.
    ::setenv("TZ", ":/etc/localtime", 0);

    // zorvik.Error and its subclasses live in zorvik._errors; a zorvik::Error becomes the one
    // its code names, carrying the code, the reason, the archive and the entry.
    py::register_exception_translator([](std::exception_ptr raised) {
        try {
            if (raised) std::rethrow_exception(raised);
        } catch (const zorvik::Error& error) {
            const py::object errors = py::module_::import("zorvik._errors");
            const py::object exception =
                errors.attr("_from_component")(static_cast<int>(error.code()), decode(error.what()), decode(error.reason()),
                                               decode(error.archive()), decode(error.entry()));
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
        }
    });

    py::class_<CreateOptions>(m, "_CreateOptions")
        .def(py::init<>())
        .def_readwrite("format", &CreateOptions::format)
        .def_readwrite("method", &CreateOptions::method)
        .def_readwrite("level", &CreateOptions::level)
        .def_readwrite("password", &CreateOptions::password)
        .def_readwrite("encryption", &CreateOptions::encryption)
        .def_readwrite("encrypt_headers", &CreateOptions::encrypt_headers)
        .def_readwrite("solid", &CreateOptions::solid);

    py::class_<EntryReader>(m, "_EntryReader").def("read", &EntryReader::read, py::arg("size") = -1).def("close", &EntryReader::close);

    py::class_<PyArchive>(m, "_Archive")
        .def_static("open_path", &PyArchive::open_path, py::arg("path"), py::arg("password"))
        .def_static("open_file", &PyArchive::open_file, py::arg("file"), py::arg("label"), py::arg("format"), py::arg("password"))
        .def("entries", &PyArchive::entries)
        .def("info", &PyArchive::info)
        .def("read", &PyArchive::read, py::arg("path"), py::arg("password"))
        .def("open_entry", &PyArchive::open_entry, py::arg("path"), py::arg("password"))
        .def("extract", &PyArchive::extract, py::arg("folder"), py::arg("members"), py::arg("overwrite"), py::arg("preserve_permissions"),
             py::arg("password"), py::arg("progress"))
        .def("test", &PyArchive::test, py::arg("password"), py::arg("progress"))
        .def("write_changes", &PyArchive::write_changes, py::arg("path"), py::arg("changes"), py::arg("policies"), py::arg("password"),
             py::arg("progress"))
        .def("close", &PyArchive::close)
        .def_property_readonly("name", &PyArchive::name);

    m.def("create", &create, py::arg("path"), py::arg("changes"), py::arg("options"), py::arg("progress"));
    m.def("formats", &formats);
}
