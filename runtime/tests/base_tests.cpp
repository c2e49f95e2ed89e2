#include <gtest/gtest.h>

#include "zorvik/runtime/implements.h"

using namespace zorvik::rt;

namespace {

struct ISequential : IUnknown {
    static constexpr GUID iid = guid_from_name("Test.ISequential");
    virtual int Read() = 0;
};
struct IRandom : ISequential {
    static constexpr GUID iid = guid_from_name("Test.IRandom");
    using base_interface = ISequential;
    virtual int Seek() = 0;
};
struct IGreeter : IInspectable {
    static constexpr GUID iid = guid_from_name("Test.IGreeter");
    virtual int Greet() = 0;
};

int g_alive = 0;

struct Stream : implements<Stream, IRandom> {
    Stream() { ++g_alive; }
    ~Stream() { --g_alive; }
    int Read() override { return 1; }
    int Seek() override { return 2; }
};

struct Greeter : implements<Greeter, IGreeter, ABI::Windows::Foundation::IClosable> {
    static constexpr const char* runtime_class_name = "Test.Greeter";
    Greeter() { ++g_alive; }
    ~Greeter() { --g_alive; }
    int Greet() override { return 3; }
    HRESULT Close() override { return S_OK; }
};

TEST(Implements, QueryInterfaceWalksDeclaredBasesOnly) {
    {
        auto stream = make<Stream>();
        com_ptr<IRandom> random = stream;
        EXPECT_EQ(random.as<ISequential>()->Read(), 1);
        EXPECT_EQ(random.as<IUnknown>().get(), static_cast<IUnknown*>(static_cast<IRandom*>(stream.get())));
        EXPECT_FALSE(random.try_as<IInspectable>());
        EXPECT_FALSE(random.try_as<IWeakReferenceSource>());
        EXPECT_THROW(random.as<IGreeter>(), hresult_error);
    }
    EXPECT_EQ(g_alive, 0);
}

TEST(Implements, InspectableReportsClassNameIidsAndTrust) {
    auto greeter = make<Greeter>();
    auto inspectable = greeter.as<IInspectable>();
    hstring name;
    ASSERT_EQ(inspectable->GetRuntimeClassName(name.put()), S_OK);
    EXPECT_EQ(name, L"Test.Greeter");
    {
        hstring released;  // each name handed out is the caller's to release
        ASSERT_EQ(make<Greeter>().as<IInspectable>()->GetRuntimeClassName(released.put()), S_OK);
    }
    hstring again;
    ASSERT_EQ(inspectable->GetRuntimeClassName(again.put()), S_OK);
    EXPECT_EQ(again, name);
    EXPECT_EQ(name, L"Test.Greeter");
    std::uint32_t count = 0;
    GUID* iids = nullptr;
    ASSERT_EQ(inspectable->GetIids(&count, &iids), S_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(iids[0], IGreeter::iid);
    EXPECT_EQ(iids[1], ABI::Windows::Foundation::IClosable::iid);
    CoTaskMemFree(iids);
    TrustLevel level = FullTrust;
    EXPECT_EQ(inspectable->GetTrustLevel(&level), S_OK);
    EXPECT_EQ(level, BaseTrust);
}

TEST(WeakReference, ResolvesWhileAliveAndToNullAfterLastRelease) {
    com_ptr<IWeakReference> weak;
    {
        auto greeter = make<Greeter>();
        ASSERT_EQ(greeter.as<IWeakReferenceSource>()->GetWeakReference(weak.put()), S_OK);
        com_ptr<IGreeter> resolved;
        ASSERT_EQ(weak->Resolve(IGreeter::iid, reinterpret_cast<IInspectable**>(resolved.put())), S_OK);
        ASSERT_TRUE(resolved);
        EXPECT_EQ(resolved->Greet(), 3);
    }
    EXPECT_EQ(g_alive, 0);
    com_ptr<IInspectable> gone;
    EXPECT_EQ(weak->Resolve(IGreeter::iid, gone.put()), S_OK);
    EXPECT_FALSE(gone);
}

TEST(Hstring, CopiesShareTextAndEmptyIsNull) {
    hstring a = L"archive.7z";
    hstring b = a;
    EXPECT_EQ(a.get(), b.get());
    EXPECT_EQ(b.view(), L"archive.7z");
    hstring empty = L"";
    EXPECT_EQ(empty.get(), nullptr);
    EXPECT_STREQ(empty.c_str(), L"");
    EXPECT_EQ(empty.size(), 0u);
}

TEST(Errors, ExceptionsAndHresultsMapBothWays) {
    for (HRESULT code : {RO_E_CLOSED, E_NOTIMPL, E_OUTOFMEMORY, E_ABORT, E_INVALIDARG, E_FAIL, HRESULT_FROM_WIN32(170)})
        EXPECT_EQ(boundary([&] { throw_hresult(code); }), code);
    EXPECT_THROW(throw_hresult(RO_E_CLOSED), object_disposed_error);
    EXPECT_THROW(throw_hresult(E_ABORT), canceled_error);
    EXPECT_EQ(boundary([] { throw std::bad_alloc(); }), E_OUTOFMEMORY);
    EXPECT_EQ(boundary([] { throw std::runtime_error("x"); }), E_FAIL);
    EXPECT_EQ(boundary([] { throw 42; }), E_FAIL);
    EXPECT_EQ(boundary([] {}), S_OK);
}

TEST(Text, AnyBytesRoundTripAndInvalidOnesAreEscapedAsTheEngineEscapesThem) {
    struct Case {
        const char* label;
        std::string bytes;
        std::wstring wide;
    };
    const Case cases[] = {
        {"UTF-8 beyond the BMP", "caf\xC3\xA9 \xF0\x9F\x98\x80", L"caf\u00e9 \U0001F600"},
        {"a byte that is no UTF-8", "caf\xE9", L"caf\uEFE9"},
        {"a truncated sequence", "\xE6\x97", L"\uEFE6\uEF97"},
        {"an overlong form", "\xC0\xAF", L"\uEFC0\uEFAF"},
        {"an encoded surrogate", "\xED\xA0\x80", L"\uEFED\uEFA0\uEF80"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", L"\uEFF4\uEF90\uEF80\uEF80"},
        {"an escape character itself", "\xEE\xBE\x80", L"\uEFEE\uEFBE\uEF80"},
        {"the last byte", "\xFF", L"\uEFFF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(to_wide(c.bytes), c.wide);
        EXPECT_EQ(to_utf8(c.wide), c.bytes);
    }
    for (int byte = 1; byte < 256; ++byte) {
        const std::string bytes{'a', static_cast<char>(byte), 'b'};
        EXPECT_EQ(to_utf8(to_wide(bytes)), bytes) << byte;
    }
    // Text from the archive engine holds a character beyond the BMP as a UTF-16 pair.
    EXPECT_EQ(to_utf8(std::wstring{L'a', 0xD83D, 0xDE00, L'b'}),
              "a\xF0\x9F\x98\x80"
              "b");
    EXPECT_EQ(to_utf8(std::wstring{0xD83D, L'b'}),
              "\xED\xA0\xBD"
              "b")
        << "a lone surrogate keeps its bytes";
}

TEST(Guid, NameBasedGuidsAreStableVersion5AndDistinct) {
    constexpr GUID a = guid_from_name("Zorvik.IArchiveSource");
    EXPECT_EQ(a, guid_from_name(std::string("Zorvik.IArchiveSource")));
    EXPECT_EQ(a.Data3 >> 12, 5);
    EXPECT_EQ(a.Data4[0] & 0xC0, 0x80);
    EXPECT_FALSE(a == guid_from_name("Zorvik.IArchiveItem"));
}

}  // namespace
