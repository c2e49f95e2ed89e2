#include <gtest/gtest.h>

#include "model/ArchiveEntryProperties.h"
#include "model/FileSystemProperties.h"
#include "model/tests/FakeHandler.h"

namespace Zorvik::Testing {
namespace {

using zorvik::rt::com_ptr;
using zorvik::rt::make;

std::uint64_t SizeOf(IFileSystemProperties* properties) {
    std::uint64_t size = 0;
    zorvik::rt::check_hresult(properties->get_Size(&size));
    return size;
}

std::wstring PathOf(IFileSystemProperties* properties) {
    zorvik::rt::hstring path;
    zorvik::rt::check_hresult(properties->get_Path(path.put()));
    return std::wstring(path.view());
}

TEST(EntryProperties, ADirectoryIsEmptyAndUnencryptedWhateverTheHandlerSays) {
    auto handler = make<FakeHandler>(std::vector{FolderEntry(L"docs")
                                                     .Set(Engine::kpidSize, UInt64Value(4096))
                                                     .Set(Engine::kpidPackSize, UInt64Value(512))
                                                     .Set(Engine::kpidEncrypted, BoolValue(true))});
    auto properties = make<ArchiveEntryProperties>(handler.get(), 0);
    std::uint64_t packed = 1;
    bool folder = false, encrypted = true;
    EXPECT_EQ(SizeOf(properties.get()), 0u);
    ASSERT_EQ(properties->get_PackedSize(&packed), S_OK);
    ASSERT_EQ(properties->get_IsFolder(&folder), S_OK);
    ASSERT_EQ(properties->get_IsEncrypted(&encrypted), S_OK);
    EXPECT_EQ(packed, 0u);
    EXPECT_TRUE(folder);
    EXPECT_FALSE(encrypted);
}

TEST(EntryProperties, TheModeComesFromThePosixPropertyOrTheMarkedHighHalfOfTheAttributes) {
    constexpr std::uint32_t kMarked = 0x8000;  // the engine's sign of a POSIX mode in the high half
    const auto uint32 = [](std::uint32_t value) {
        zorvik::rt::prop_variant property;
        property.set_uint32(value);
        return property;
    };
    struct Case {
        const char* label;
        FakeEntry entry;
        std::uint32_t mode;
    };
    for (const Case& c : std::vector<Case>{
             {"tar, rar 5", FakeEntry().Set(Engine::kpidPosixAttrib, uint32(0100755)), 0100755},
             {"7z, zip, rar 4", FakeEntry().Set(Engine::kpidAttrib, uint32(0120777u << 16 | kMarked | 0x20)), 0120777},
             {"made on Windows", FakeEntry().Set(Engine::kpidAttrib, uint32(0x21)), 0},
             {"high half without the mark", FakeEntry().Set(Engine::kpidAttrib, uint32(0100644u << 16 | 0x20)), 0},
             {"both", FakeEntry().Set(Engine::kpidPosixAttrib, uint32(0100600)).Set(Engine::kpidAttrib, uint32(0100644u << 16 | kMarked)),
              0100600},
             {"neither", FakeEntry(), 0}}) {
        auto properties = make<ArchiveEntryProperties>(make<FakeHandler>(std::vector{c.entry}).get(), 0);
        std::uint32_t mode = 1;
        ASSERT_EQ(properties->get_Mode(&mode), S_OK);
        EXPECT_EQ(mode, c.mode) << c.label;
    }
    auto link = make<ArchiveEntryProperties>(
        make<FakeHandler>(
            std::vector{FakeEntry().Set(Engine::kpidSymLink, StringValue(L"../x")).Set(Engine::kpidHardLink, StringValue(L"a/b"))})
            .get(),
        0);
    zorvik::rt::hstring symbolic, hard;
    ASSERT_EQ(link->get_SymbolicLinkTarget(symbolic.put()), S_OK);
    ASSERT_EQ(link->get_HardLinkTarget(hard.put()), S_OK);
    EXPECT_EQ(symbolic.view(), L"../x");
    EXPECT_EQ(hard.view(), L"a/b");
}

TEST(EntryProperties, NarrowSizesWidenAndOnlyFiletimesAreTimes) {
    PROPVARIANT size16{};
    size16.vt = VT_UI2;
    size16.uiVal = 500;
    FILETIME created{0x89ABCDEF, 0x01234567};
    zorvik::rt::prop_variant createdValue;
    createdValue.set_filetime(created);
    auto handler = make<FakeHandler>(std::vector{FakeEntry(), FakeEntry(), FakeEntry(),
                                                 FakeEntry()
                                                     .Set(Engine::kpidSize, RawValue(size16))
                                                     .Set(Engine::kpidPackSize, UInt64Value(7))
                                                     .Set(Engine::kpidEncrypted, BoolValue(true))
                                                     .Set(Engine::kpidMTime, UInt64Value(123456))
                                                     .Set(Engine::kpidCTime, createdValue)});
    auto properties = make<ArchiveEntryProperties>(handler.get(), 3);
    EXPECT_EQ(properties->Index(), 3u);
    EXPECT_EQ(PathOf(properties.get()), L"") << "no path stays empty";
    EXPECT_EQ(SizeOf(properties.get()), 500u);
    DateTime modified{-1}, createdTime{}, accessed{-1};
    bool encrypted = false;
    ASSERT_EQ(properties->get_DateModified(&modified), S_OK);
    ASSERT_EQ(properties->get_DateCreated(&createdTime), S_OK);
    ASSERT_EQ(properties->get_DateAccessed(&accessed), S_OK);
    ASSERT_EQ(properties->get_IsEncrypted(&encrypted), S_OK);
    EXPECT_EQ(modified.UniversalTime, 0) << "a time that is not a FILETIME reads as 1601";
    EXPECT_EQ(createdTime.UniversalTime, 0x0123456789ABCDEF);
    EXPECT_EQ(accessed.UniversalTime, 0);
    EXPECT_TRUE(encrypted);
}

// A caller's description of something to add.
class Described final : public zorvik::rt::implements<Described, IFileSystemProperties> {
public:
    Described(std::wstring path, bool folder, HRESULT sizeFailure = S_OK)
        : path_(std::move(path)), folder_(folder), sizeFailure_(sizeFailure) {}
    HRESULT get_Path(HSTRING* value) override { return WindowsCreateString(path_.data(), std::uint32_t(path_.size()), value); }
    HRESULT get_Size(std::uint64_t* value) override {
        *value = 42;
        return sizeFailure_;
    }
    HRESULT get_DateModified(DateTime* value) override {
        value->UniversalTime = 7;
        return S_OK;
    }
    HRESULT get_DateCreated(DateTime* value) override {
        value->UniversalTime = 8;
        return S_OK;
    }
    HRESULT get_DateAccessed(DateTime* value) override {
        value->UniversalTime = 9;
        return S_OK;
    }
    HRESULT get_IsFolder(bool* value) override {
        *value = folder_;
        return S_OK;
    }

private:
    std::wstring path_;
    bool folder_;
    HRESULT sizeFailure_;
};

std::wstring RenderedAfter(int increments, std::wstring path, bool folder = false) {
    auto copy = make<FileSystemProperties>(make<Described>(std::move(path), folder).get());
    for (int i = 0; i < increments; ++i) EXPECT_TRUE(copy->IncrementNameIndex());
    return PathOf(copy.get());
}

TEST(FileSystemProperties, ANameIndexGoesBeforeTheLastExtensionOfTheLastComponent) {
    EXPECT_EQ(RenderedAfter(0, L"docs/report.txt"), L"docs/report.txt") << "index 0 leaves the path as given";
    EXPECT_EQ(RenderedAfter(2, L"docs/report.txt"), L"docs/report(2).txt");
    EXPECT_EQ(RenderedAfter(1, L"a.tar.gz"), L"a.tar(1).gz");
    EXPECT_EQ(RenderedAfter(1, L"README"), L"README(1)");
    EXPECT_EQ(RenderedAfter(3, L"x.bin"), L"x(3).bin");
    EXPECT_EQ(RenderedAfter(3, L"docs/old.files", true), L"docs/old.files(3)");
    EXPECT_EQ(RenderedAfter(1, L"v1.2/notes"), L"v1.2/notes(1)");
    EXPECT_EQ(RenderedAfter(1, L"back\\slash.txt"), L"back\\slash(1).txt") << "a backslash is part of the name";
}

TEST(FileSystemProperties, CopiesEveryMemberAndRaisesTheSourcesFailure) {
    auto copy = make<FileSystemProperties>(make<Described>(L"a/b", false).get());
    DateTime modified{}, created{}, accessed{};
    copy->get_DateModified(&modified);
    copy->get_DateCreated(&created);
    copy->get_DateAccessed(&accessed);
    EXPECT_EQ(SizeOf(copy.get()), 42u);
    EXPECT_EQ(modified.UniversalTime + created.UniversalTime * 10 + accessed.UniversalTime * 100, 987);
    try {
        make<FileSystemProperties>(make<Described>(L"a", false, E_ACCESSDENIED).get());
        FAIL() << "the failure should be raised";
    } catch (const zorvik::rt::hresult_error& error) {
        EXPECT_EQ(error.code(), E_ACCESSDENIED);
    }
}

}  // namespace
}  // namespace Zorvik::Testing
