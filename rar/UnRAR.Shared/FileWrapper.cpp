#include "rar.hpp"

#include <algorithm>
#include <limits>

namespace {

constexpr UnRAR::HRESULT_t kAbort = static_cast<UnRAR::HRESULT_t>(0x80004004);

// Seeks back to a noted position when it goes out of scope, also while an exception passes.
class PositionRestorer {
public:
    PositionRestorer(File& file, std::int64_t position) : file_(file), position_(position) {}
    ~PositionRestorer() {
        try {
            file_.Seek(position_, SEEK_SET);
        } catch (...) {
        }
    }
    PositionRestorer(const PositionRestorer&) = delete;
    PositionRestorer& operator=(const PositionRestorer&) = delete;

private:
    File& file_;
    std::int64_t position_;
};

}  // namespace

File::File(std::shared_ptr<UnRAR::IInputStream> input, std::shared_ptr<UnRAR::IOpenCallback> openCallback,
           std::shared_ptr<UnRAR::IOutputStream> output)
    : openCallback_(std::move(openCallback)), input_(std::move(input)), output_(std::move(output)) {
    FileName[0] = 0;
}

File::~File() {
    input_.reset();
    output_.reset();
    openCallback_.reset();
}

bool File::Open(const wchar_t* name, unsigned int mode) {
    // Only reading is possible; a volume file comes from the open callback.
    if (!openCallback_ || (mode & ~static_cast<unsigned int>(FMF_OPENSHARED)) != FMF_READ) return false;
    if (!input_) {
        std::shared_ptr<UnRAR::IInputStream> stream;
        const UnRAR::HRESULT_t result = openCallback_->OpenVolume(name, stream);
        if (result == kAbort) ErrHandler.Exit(RARX_USERBREAK);
        if (result != 0 || !stream) return false;
        input_ = std::move(stream);
    }
    wcsncpyz(FileName, name, kNameSize);
    ErrorType = FILE_SUCCESS;
    return true;
}

void File::TOpen(const wchar_t* name) {
    if (!Open(name)) ErrHandler.Exit(RARX_OPEN);
}

bool File::WOpen(const wchar_t* name) { return Open(name); }

bool File::Create(const wchar_t*, unsigned int) { return false; }

void File::TCreate(const wchar_t*, unsigned int) { ErrHandler.Exit(RARX_CREATE); }

bool File::WCreate(const wchar_t*, unsigned int) { return false; }

bool File::Close() {
    input_.reset();
    return true;
}

bool File::Delete() { return false; }

bool File::Rename(const wchar_t*) { return false; }

bool File::Write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const auto chunk = static_cast<std::uint32_t>(std::min<std::size_t>(size, std::numeric_limits<std::uint32_t>::max()));
        std::uint32_t written = 0;
        // A stream that accepts nothing would make this loop forever: that counts as a failure.
        if (!output_ || !output_->Write(bytes, chunk, &written) || written == 0 || written > chunk) {
            if (AllowExceptions) ErrHandler.Exit(RARX_WRITE);
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

int File::Read(void* data, std::size_t size) {
    auto* bytes = static_cast<std::uint8_t*>(data);
    std::size_t total = 0;
    // No buffer of the library is that large: such a request comes from a size gone negative
    // in a damaged header, and filling it would write past the real buffer.
    bool failed = !input_ || size > static_cast<std::size_t>(std::numeric_limits<int>::max());
    while (!failed && total < size) {
        const auto chunk = static_cast<std::uint32_t>(size - total);
        std::uint32_t read = 0;
        if (!input_->Read(bytes + total, chunk, &read) || read > chunk) {
            failed = true;
            break;
        }
        if (read == 0) break;
        total += read;
    }
    if (failed) {
        ErrorType = FILE_READERROR;
        if (!AllowExceptions) return -1;
        ErrHandler.Exit(RARX_FATAL);
        return -1;
    }
    return static_cast<int>(total);
}

int File::DirectRead(void* data, std::size_t size) { return File::Read(data, size); }

void File::Seek(std::int64_t offset, int method) {
    if (!RawSeek(offset, method) && AllowExceptions) ErrHandler.Exit(RARX_FATAL);
}

bool File::RawSeek(std::int64_t offset, int method) {
    if (!input_ && !output_) return true;
    if (offset < 0 && method != SEEK_SET) {
        const std::int64_t base = method == SEEK_CUR ? Tell() : FileLength();
        if (base < 0) return false;
        offset += base;
        method = SEEK_SET;
    }
    if (input_) return input_->Seek(offset, method);
    return output_->Seek(offset, method);
}

std::int64_t File::Tell() {
    if (input_) return input_->Tell();
    if (AllowExceptions) ErrHandler.Exit(RARX_FATAL);
    return -1;
}

std::uint8_t File::GetByte() {
    std::uint8_t byte = 0;
    Read(&byte, 1);
    return byte;
}

void File::PutByte(std::uint8_t byte) { Write(&byte, 1); }

void File::GetOpenFileTime(RarTime* ftm, RarTime* ftc, RarTime* fta) {
    for (RarTime* time : {ftm, ftc, fta})
        if (time) time->Reset();
}

std::int64_t File::FileLength() {
    const std::int64_t position = Tell();
    std::int64_t length = -1;
    {
        PositionRestorer restorer(*this, position);
        Seek(0, SEEK_END);
        length = Tell();
    }
    return length;
}

std::int64_t File::Copy(File& dest, std::int64_t length) {
    std::vector<std::uint8_t> buffer(CopyBufferSize());
    std::int64_t copied = 0;
    while (length == INT64_MAX || copied < length) {
        std::size_t want = buffer.size();
        if (length != INT64_MAX) want = static_cast<std::size_t>(std::min<std::int64_t>(length - copied, want));
        const int read = Read(buffer.data(), want);
        if (read <= 0) break;
        dest.Write(buffer.data(), static_cast<std::size_t>(read));
        copied += read;
    }
    return copied;
}

namespace UnRAR {

std::wstring FirstVolumeName(const std::wstring& volumeName, bool newNumbering) {
    std::vector<wchar_t> name(volumeName.begin(), volumeName.end());
    name.resize(std::max<std::size_t>(name.size() + 8, File::kNameSize), 0);
    if (newNumbering) {
        std::size_t position = static_cast<std::size_t>(GetVolNumPart(name.data()) - name.data());
        const auto start = static_cast<std::size_t>(PointToName(name.data()) - name.data());
        if (IsDigit(name[position])) {
            name[position] = L'1';
            while (position > start && IsDigit(name[position - 1])) name[--position] = L'0';
        }
    } else {
        SetExt(name.data(), L"rar", name.size());
    }
    return std::wstring(name.data());
}

}  // namespace UnRAR
