#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "zorvik/runtime/oleauto.h"

using namespace zorvik::rt;

namespace {

std::uint32_t length_prefix(BSTR string) {
    std::uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<const char*>(string) - 4, 4);
    return prefix;
}

TEST(Bstr, LengthsAndLayoutMatchTheEngine) {
    BSTR text = SysAllocString(L"a\u00e9\U0001D11E");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 3u);
    EXPECT_EQ(SysStringByteLen(text), 12u);
    EXPECT_EQ(length_prefix(text), 12u);
    EXPECT_EQ(text[3], L'\0');
    EXPECT_EQ(std::wstring_view(text), L"a\u00e9\U0001D11E");
    // The engine frees with free() on the block that starts at the prefix.
    std::free(reinterpret_cast<char*>(text) - 4);

    BSTR embedded = SysAllocStringLen(L"a\0b", 3);
    EXPECT_EQ(SysStringLen(embedded), 3u);
    EXPECT_EQ(embedded[2], L'b');
    SysFreeString(embedded);

    BSTR blank = SysAllocStringLen(nullptr, 4);
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(SysStringLen(blank), 4u);
    for (int i = 0; i <= 4; ++i) EXPECT_EQ(blank[i], L'\0');
    SysFreeString(blank);
}

TEST(Bstr, OddByteLengthsKeepTheirBytesAndEndInAWholeZeroCharacter) {
    BSTR bytes = SysAllocStringByteLen("hello", 5);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(SysStringByteLen(bytes), 5u);
    EXPECT_EQ(SysStringLen(bytes), 1u);  // whole characters only
    const auto* raw = reinterpret_cast<const unsigned char*>(bytes);
    EXPECT_EQ(std::memcmp(raw, "hello", 5), 0);
    for (int i = 5; i < 12; ++i) EXPECT_EQ(raw[i], 0) << i;
    SysFreeString(bytes);

    BSTR empty = SysAllocStringByteLen(nullptr, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringByteLen(empty), 0u);
    EXPECT_EQ(empty[0], L'\0');
    SysFreeString(empty);
}

TEST(Bstr, NullptrIsTheEmptyStringAndHugeLengthsFail) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x3FFFFFFE), nullptr);
    EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFF4), nullptr);
}

TEST(Variant, CopyDeepCopiesStringsAndClearFreesThem) {
    PROPVARIANT source{};
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocStringByteLen("odd", 3);
    PROPVARIANT destination{};
    destination.vt = VT_BSTR;
    destination.bstrVal = SysAllocString(L"replaced");  // freed by the copy (a leak otherwise)

    ASSERT_EQ(VariantCopy(&destination, &source), S_OK);
    EXPECT_EQ(destination.vt, VT_BSTR);
    EXPECT_NE(destination.bstrVal, source.bstrVal);
    EXPECT_EQ(SysStringByteLen(destination.bstrVal), 3u);
    EXPECT_EQ(std::memcmp(destination.bstrVal, source.bstrVal, 3), 0);

    EXPECT_EQ(VariantClear(&source), S_OK);
    EXPECT_EQ(source.vt, VT_EMPTY);
    EXPECT_EQ(std::memcmp(destination.bstrVal, "odd", 3), 0);  // still alive
    EXPECT_EQ(VariantClear(&destination), S_OK);
    EXPECT_EQ(destination.vt, VT_EMPTY);
}

TEST(Variant, CopyOntoItselfKeepsTheString) {
    PROPVARIANT value{};
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(L"same");
    EXPECT_EQ(VariantCopy(&value, &value), S_OK);
    EXPECT_EQ(std::wstring_view(value.bstrVal), L"same");
    VariantClear(&value);
}

TEST(Variant, ScalarsCopyWholeAndClearingZeroesPropVariants) {
    PROPVARIANT source{};
    source.vt = VT_UI8;
    source.wReserved1 = 7;
    source.uhVal.QuadPart = 0x0123456789ABCDEFull;
    PROPVARIANT destination{};
    ASSERT_EQ(VariantCopy(&destination, &source), S_OK);
    EXPECT_EQ(std::memcmp(&destination, &source, sizeof(PROPVARIANT)), 0);

    EXPECT_EQ(PropVariantClear(&destination), S_OK);
    const PROPVARIANT zero{};
    EXPECT_EQ(std::memcmp(&destination, &zero, sizeof(PROPVARIANT)), 0);

    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
    EXPECT_EQ(PropVariantClear(nullptr), E_INVALIDARG);
    EXPECT_EQ(VariantCopy(nullptr, &source), E_INVALIDARG);
    EXPECT_EQ(VariantCopy(&destination, nullptr), E_INVALIDARG);
}

TEST(PropVariantOwner, ReadsOnlyItsOwnTypeAndCopiesIndependently) {
    prop_variant name;
    name.set_string(L"archive.7z");
    prop_variant copy = name;
    name.set_uint32(42);
    EXPECT_EQ(copy.as_string(), L"archive.7z");
    EXPECT_EQ(name.as_uint64(), 42u);
    EXPECT_EQ(name.as_string(), std::nullopt);
    EXPECT_EQ(name.as_bool(), std::nullopt);

    prop_variant flag;
    flag.set_bool(true);
    EXPECT_EQ(flag.get().boolVal, VARIANT_TRUE);
    EXPECT_EQ(flag.as_bool(), true);

    prop_variant time;
    time.set_filetime({1, 2});
    ASSERT_TRUE(time.as_filetime());
    EXPECT_EQ(time.as_filetime()->dwHighDateTime, 2u);
}

TEST(PropVariantOwner, DetachReplacesTheOutParameter) {
    PROPVARIANT out{};
    out.vt = VT_BSTR;
    out.bstrVal = SysAllocString(L"stale");
    prop_variant size;
    size.set_uint64(1ull << 40);
    size.detach_to(&out);
    EXPECT_TRUE(size.empty());
    EXPECT_EQ(out.vt, VT_UI8);
    EXPECT_EQ(out.uhVal.QuadPart, 1ull << 40);
}

TEST(BstrOwner, PutFreesTheOldStringAndDetachHandsItOver) {
    bstr text(std::wstring_view(L"a\0b", 3));
    EXPECT_EQ(text.view(), std::wstring_view(L"a\0b", 3));
    *text.put() = SysAllocString(L"out");
    EXPECT_EQ(text.view(), L"out");
    BSTR raw = text.detach();
    EXPECT_TRUE(text.empty());
    SysFreeString(raw);
}

}  // namespace
