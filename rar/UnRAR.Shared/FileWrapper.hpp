// The RAR library's file class, backed by streams instead of the file system: reads, seeks and
// positions go to an input stream, writes to an output stream, and opening a further volume by
// name asks an open callback for its stream. This header takes the place of the library's own
// file.hpp in the library build, and is self-contained so that code which must not see the
// library's headers can use the stream interfaces.
//
// It modifies the UnRAR library, whose licence asks for this paragraph here:
//   UnRAR source code may be used in any software to handle RAR archives without limitations
//   free of charge, but cannot be used to develop RAR (WinRAR) compatible archiver and to
//   re-create RAR compression algorithm, which is proprietary. Distribution of modified UnRAR
//   source code in separate form or as a part of other software is permitted, provided that
//   full text of this paragraph, starting from "UnRAR source code" words, is included in
//   license, or in documentation if license is not available, and in source code comments of
//   resulting package.
#ifndef _RAR_FILE_
#define _RAR_FILE_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace UnRAR {

using HRESULT_t = std::int32_t;

class IInputStream {
public:
    virtual bool Read(void* buffer, std::uint32_t size, std::uint32_t* processed) = 0;
    // The current position, or -1 when none can be had.
    virtual std::int64_t Tell() = 0;
    // Origin 0 from the start, 1 from the current position, 2 from the end.
    virtual bool Seek(std::int64_t offset, std::int32_t origin) = 0;
    virtual ~IInputStream() = default;
};

class IOutputStream {
public:
    virtual bool Write(const void* buffer, std::uint32_t size, std::uint32_t* processed) = 0;
    virtual bool Seek(std::int64_t offset, std::int32_t origin) = 0;
    virtual ~IOutputStream() = default;
};

// Passwords are written into buffers of this many wide characters, terminator included.
constexpr std::size_t kPasswordBufferSize = 128;

class IOpenCallback {
public:
    // The name of the archive's first opened file; may be empty.
    virtual std::wstring GetArchiveName() = 0;
    // A stream for the volume file of that name.
    virtual HRESULT_t OpenVolume(const std::wstring& name, std::shared_ptr<IInputStream>& stream) = 0;
    // Writes a terminated password into a buffer of kPasswordBufferSize wide characters.
    virtual HRESULT_t GetPassword(wchar_t* buffer) = 0;
    virtual ~IOpenCallback() = default;
};

// The name of a volume set's first volume, derived from another volume's name without looking
// for files: under the new numbering the volume number becomes 1 (a.part07.rar gives
// a.part01.rar), under the old one the extension becomes "rar".
std::wstring FirstVolumeName(const std::wstring& volumeName, bool newNumbering);

}  // namespace UnRAR

class RarTime;

enum FILE_HANDLETYPE { FILE_HANDLENORMAL, FILE_HANDLESTD };

enum FILE_ERRORTYPE { FILE_SUCCESS, FILE_NOTFOUND, FILE_READERROR };

enum FILE_MODE_FLAGS {
    FMF_READ = 0,
    FMF_UPDATE = 1,
    FMF_WRITE = 2,
    FMF_OPENSHARED = 4,
    FMF_OPENEXCLUSIVE = 8,
    FMF_SHAREREAD = 16,
    FMF_STANDARDNAMES = 32,
    FMF_UNDEFINED = 256
};

enum FILE_READ_ERROR_MODE { FREM_ASK, FREM_TRUNCATE, FREM_IGNORE };

class File {
public:
    // Wide characters in FileName, terminator included.
    static constexpr std::size_t kNameSize = 2048;

    explicit File(std::shared_ptr<UnRAR::IInputStream> input = {}, std::shared_ptr<UnRAR::IOpenCallback> openCallback = {},
                  std::shared_ptr<UnRAR::IOutputStream> output = {});
    virtual ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // The streams can also be handed over after construction: the library's archive class
    // constructs its File part itself.
    void SetInputStream(std::shared_ptr<UnRAR::IInputStream> input) { input_ = std::move(input); }
    void SetOpenCallback(std::shared_ptr<UnRAR::IOpenCallback> callback) { openCallback_ = std::move(callback); }
    void SetOutputStream(std::shared_ptr<UnRAR::IOutputStream> output) { output_ = std::move(output); }
    const std::shared_ptr<UnRAR::IOpenCallback>& OpenCallback() const { return openCallback_; }

    // Opening by name asks the open callback for the volume's stream, unless a stream is held
    // already (the first volume); in both cases only the name is recorded.
    virtual bool Open(const wchar_t* name, unsigned int mode = FMF_READ);
    void TOpen(const wchar_t* name);
    bool WOpen(const wchar_t* name);
    // Nothing is created or removed: there is no file system behind this class.
    bool Create(const wchar_t* name, unsigned int mode = FMF_UPDATE | FMF_SHAREREAD);
    void TCreate(const wchar_t* name, unsigned int mode = FMF_UPDATE | FMF_SHAREREAD);
    bool WCreate(const wchar_t* name, unsigned int mode = FMF_UPDATE | FMF_SHAREREAD);
    virtual bool Close();
    bool Delete();
    bool Rename(const wchar_t* newName);
    bool Write(const void* data, std::size_t size);
    // Fills the buffer unless the stream ends first: streams may answer in pieces.
    virtual int Read(void* data, std::size_t size);
    int DirectRead(void* data, std::size_t size);
    virtual void Seek(std::int64_t offset, int method);
    bool RawSeek(std::int64_t offset, int method);
    virtual std::int64_t Tell();
    void Prealloc(std::int64_t) {}
    std::uint8_t GetByte();
    void PutByte(std::uint8_t byte);
    bool Truncate() { return true; }
    void Flush() {}
    void SetOpenFileTime(RarTime*, RarTime* = nullptr, RarTime* = nullptr) {}
    void SetCloseFileTime(RarTime*, RarTime* = nullptr) {}
    static void SetCloseFileTimeByName(const wchar_t*, RarTime*, RarTime*) {}
    void GetOpenFileTime(RarTime* ftm, RarTime* ftc = nullptr, RarTime* fta = nullptr);
    virtual bool IsOpened() { return input_ != nullptr || output_ != nullptr; }
    std::int64_t FileLength();
    void SetHandleType(FILE_HANDLETYPE) {}
    void SetLineInputMode(bool) {}
    FILE_HANDLETYPE GetHandleType() { return FILE_HANDLENORMAL; }
    bool IsSeekable() { return true; }
    bool IsDevice() { return false; }
    static bool RemoveCreated() { return true; }
    void SetReadErrorMode(FILE_READ_ERROR_MODE) {}
    std::int64_t Copy(File& dest, std::int64_t length = INT64_MAX);
    void SetAllowDelete(bool) {}
    void SetExceptions(bool allow) { AllowExceptions = allow; }
    void SetPreserveAtime(bool) {}
    bool IsTruncatedAfterReadError() { return false; }
    static std::size_t CopyBufferSize() { return 0x100000; }

    // A read failure is always reported.
    bool IgnoreReadErrors = false;
    // Failures raise the library's exit exception instead of returning an error value.
    bool AllowExceptions = true;

protected:
    // Copied in by the library's archive class from its options; no effect here.
    bool OpenShared = false;

public:
    wchar_t FileName[kNameSize];
    FILE_ERRORTYPE ErrorType = FILE_SUCCESS;

private:
    std::shared_ptr<UnRAR::IOpenCallback> openCallback_;
    std::shared_ptr<UnRAR::IInputStream> input_;
    std::shared_ptr<UnRAR::IOutputStream> output_;
};

#endif
