// Our declarations of the engine's interfaces, proven against the real engine module: the
// format list, a 7z written with BCJ2 through our spill storage, and read back.
#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <random>

#include "engine/EngineModule.h"
#include "engine/InOutTempBuffer.h"
#include "engine/tests/TestStreams.h"

namespace Zorvik::Engine::Testing {
namespace {

using zorvik::rt::com_ptr;
using zorvik::rt::make;
using zorvik::rt::prop_variant;

struct FormatInfo {
    GUID ClassId{};
    std::wstring Extensions;
    bool HasSignature = false;
};

std::map<std::wstring, FormatInfo> EngineFormats() {
    const auto& engine = EngineModule::Get();
    std::uint32_t count = 0;
    EXPECT_EQ(engine.GetNumberOfFormats(&count), S_OK);
    std::map<std::wstring, FormatInfo> formats;
    for (std::uint32_t i = 0; i < count; ++i) {
        prop_variant name, classId, extensions, signature, signatures;
        EXPECT_EQ(engine.GetHandlerProperty2(i, kHandlerName, name.put()), S_OK);
        EXPECT_EQ(engine.GetHandlerProperty2(i, kHandlerClassID, classId.put()), S_OK);
        engine.GetHandlerProperty2(i, kHandlerExtension, extensions.put());
        engine.GetHandlerProperty2(i, kHandlerSignature, signature.put());
        engine.GetHandlerProperty2(i, kHandlerMultiSignature, signatures.put());
        FormatInfo info;
        // The class ID comes as a BSTR holding the GUID's 16 bytes.
        if (classId.type() == VT_BSTR && SysStringByteLen(classId.get().bstrVal) == sizeof(GUID))
            std::memcpy(&info.ClassId, classId.get().bstrVal, sizeof(GUID));
        info.Extensions = extensions.as_string().value_or(L"");
        info.HasSignature = !signature.as_string().value_or(L"").empty() || !signatures.as_string().value_or(L"").empty();
        formats[std::wstring(name.as_string().value_or(L""))] = info;
    }
    return formats;
}

TEST(EngineInterface, FormatListHoldsTheFormatsTheComponentReliesOn) {
    const auto formats = EngineFormats();
    for (const wchar_t* name : {L"7z", L"zip", L"tar", L"gzip", L"bzip2", L"xz", L"Rar", L"Rar5", L"Iso", L"Udf"}) {
        const auto found = formats.find(name);
        ASSERT_NE(found, formats.end()) << zorvik::rt::to_utf8(name);
        EXPECT_FALSE(found->second.Extensions.empty()) << zorvik::rt::to_utf8(name);
        EXPECT_FALSE(found->second.ClassId == GUID{}) << zorvik::rt::to_utf8(name);
    }
    EXPECT_TRUE(formats.at(L"7z").HasSignature);
    EXPECT_EQ(formats.at(L"7z").Extensions, L"7z");
}

// Machine-code-like bytes: calls and jumps among filler, so that BCJ2 fills its side streams.
std::string ProgramLikeBytes(std::size_t size) {
    std::mt19937 random(7);
    std::string bytes;
    while (bytes.size() < size) {
        if (random() % 4 == 0) {
            bytes += '\xE8';
            const std::uint32_t target = random() % 0x10000;
            bytes.append(reinterpret_cast<const char*>(&target), 4);
        } else {
            bytes += static_cast<char>('a' + random() % 16);
        }
    }
    bytes.resize(size);
    return bytes;
}

// Counts the buffers the engine takes from the component's factory.
struct CountingFactory final : IWSHelperObjectsFactory {
    std::shared_ptr<IWSInOutTempBuffer> CreateInOutTempBuffer() override {
        ++created;
        return WSHelperObjectsFactory::Instance().CreateInOutTempBuffer();
    }
    std::atomic<int> created{0};
};

class OneFileUpdateCallback final : public zorvik::rt::implements<OneFileUpdateCallback, IArchiveUpdateCallback> {
public:
    OneFileUpdateCallback(std::string content, std::function<void()> atEndOfInput)
        : content_(std::move(content)), atEndOfInput_(std::move(atEndOfInput)) {}
    HRESULT SetTotal(std::uint64_t) override { return S_OK; }
    HRESULT SetCompleted(const std::uint64_t*) override { return S_OK; }
    HRESULT GetUpdateItemInfo(std::uint32_t, std::int32_t* newData, std::int32_t* newProps, std::uint32_t* indexInArchive) override {
        *newData = 1;
        *newProps = 1;
        *indexInArchive = static_cast<std::uint32_t>(-1);
        return S_OK;
    }
    HRESULT GetProperty(std::uint32_t, PROPID id, PROPVARIANT* value) override {
        value->vt = VT_EMPTY;
        if (id == kpidPath) {
            value->vt = VT_BSTR;
            value->bstrVal = SysAllocString(L"program.bin");
        } else if (id == kpidIsDir) {
            value->vt = VT_BOOL;
            value->boolVal = VARIANT_FALSE;
        } else if (id == kpidSize) {
            value->vt = VT_UI8;
            value->uhVal.QuadPart = content_.size();
        }
        return S_OK;
    }
    HRESULT GetStream(std::uint32_t, ISequentialInStream** stream) override {
        auto input = make<EndWatchingStream>(content_, atEndOfInput_);
        *stream = input.detach();
        return S_OK;
    }
    HRESULT SetOperationResult(std::int32_t) override { return S_OK; }

private:
    // Calls back once when the engine has read everything.
    class EndWatchingStream final : public zorvik::rt::implements<EndWatchingStream, ISequentialInStream> {
    public:
        EndWatchingStream(const std::string& content, std::function<void()> atEnd) : content_(content), atEnd_(std::move(atEnd)) {}
        HRESULT Read(void* data, std::uint32_t size, std::uint32_t* processed) override {
            const std::size_t n = std::min<std::size_t>(size, content_.size() - position_);
            std::memcpy(data, content_.data() + position_, n);
            position_ += n;
            *processed = static_cast<std::uint32_t>(n);
            if (n == 0 && atEnd_) std::exchange(atEnd_, nullptr)();
            return S_OK;
        }

    private:
        const std::string& content_;
        std::size_t position_ = 0;
        std::function<void()> atEnd_;
    };

    std::string content_;
    std::function<void()> atEndOfInput_;
};

class MemoryExtractCallback final : public zorvik::rt::implements<MemoryExtractCallback, IArchiveExtractCallback> {
public:
    HRESULT SetTotal(std::uint64_t) override { return S_OK; }
    HRESULT SetCompleted(const std::uint64_t*) override { return S_OK; }
    HRESULT GetStream(std::uint32_t, ISequentialOutStream** stream, std::int32_t) override {
        output = make<MemoryOutStream>();
        *stream = com_ptr<MemoryOutStream>(output).detach();
        return S_OK;
    }
    HRESULT PrepareOperation(std::int32_t) override { return S_OK; }
    HRESULT SetOperationResult(std::int32_t result) override {
        this->result = result;
        return S_OK;
    }
    com_ptr<MemoryOutStream> output;
    std::int32_t result = -1;
};

template <typename Interface>
com_ptr<Interface> CreateHandler(const GUID& classId) {
    com_ptr<Interface> handler;
    EXPECT_EQ(EngineModule::Get().CreateObject(&classId, &Interface::iid, handler.put_void()), S_OK);
    return handler;
}

using EngineRoundTrip = TemporaryFolderTest;

TEST_F(EngineRoundTrip, SevenZipWithBcj2SpillsThroughOurFactoryAndReadsBack) {
    CountingFactory factory;
    EngineModule::Get().Init7zipLibForWS(&factory);
    const GUID sevenZip = EngineFormats().at(L"7z").ClassId;
    const std::string content = ProgramLikeBytes(6 << 20);

    auto writer = CreateHandler<IOutArchive>(sevenZip);
    ASSERT_TRUE(writer);
    const wchar_t* names[] = {L"0", L"1"};
    PROPVARIANT values[2]{};
    values[0].vt = values[1].vt = VT_BSTR;
    values[0].bstrVal = SysAllocString(L"BCJ2");
    values[1].bstrVal = SysAllocString(L"LZMA");
    const HRESULT set = writer.as<ISetProperties>()->SetProperties(names, values, 2);
    for (auto& value : values) VariantClear(&value);
    ASSERT_EQ(set, S_OK);
    std::vector<std::string> spilledDuringWrite;
    auto callback = make<OneFileUpdateCallback>(content, [&] { spilledDuringWrite = SpillFiles(); });
    auto archive = make<MemoryOutStream>();
    ASSERT_EQ(writer->UpdateItems(archive.get(), 1, callback.get()), S_OK);
    writer = nullptr;
    EngineModule::Get().Init7zipLibForWS(&WSHelperObjectsFactory::Instance());

    EXPECT_GE(factory.created, 1);
    EXPECT_FALSE(spilledDuringWrite.empty()) << "no spill file while the engine wrote";
    EXPECT_TRUE(SpillFiles().empty()) << "spill files left behind";

    // Read back through our IInArchive declaration.
    auto reader = CreateHandler<IInArchive>(sevenZip);
    ASSERT_TRUE(reader);
    const std::uint64_t maxCheck = 1 << 20;
    ASSERT_EQ(reader->Open(make<MemoryInStream>(archive->Data()).get(), &maxCheck, nullptr), S_OK);
    std::uint32_t items = 0;
    ASSERT_EQ(reader->GetNumberOfItems(&items), S_OK);
    ASSERT_EQ(items, 1u);
    prop_variant path, size;
    ASSERT_EQ(reader->GetProperty(0, kpidPath, path.put()), S_OK);
    EXPECT_EQ(path.as_string(), L"program.bin");
    ASSERT_EQ(reader->GetProperty(0, kpidSize, size.put()), S_OK);
    EXPECT_EQ(size.type(), VT_UI8);
    EXPECT_EQ(size.get().uhVal.QuadPart, content.size());
    auto extract = make<MemoryExtractCallback>();
    const std::uint32_t index = 0;
    ASSERT_EQ(reader->Extract(&index, 1, 0, extract.get()), S_OK);
    EXPECT_EQ(extract->result, kOpResultOk);
    ASSERT_TRUE(extract->output);
    EXPECT_TRUE(extract->output->Data() == content);

    // And the real archiver agrees.
    const auto file = folder_.parent_path() / "bcj2.7z";
    std::ofstream(file, std::ios::binary).write(archive->Data().data(), static_cast<std::streamsize>(archive->Data().size()));
    EXPECT_EQ(std::system(("7z t -bso0 -bsp0 '" + file.string() + "'").c_str()), 0);
}

}  // namespace
}  // namespace Zorvik::Engine::Testing
