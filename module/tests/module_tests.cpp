// The component as a host sees it: loaded with dlopen, reached through its two exports.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "zorvik/Archive.h"
#include "zorvik/Compression.h"
#include "zorvik/Formats.h"
#include "zorvik/runtime/com_ptr.h"

using zorvik::rt::com_ptr;
using zorvik::rt::hstring;

namespace {

struct Component {
    HRESULT (*GetActivationFactory)(HSTRING, IActivationFactory**);
    HRESULT (*CanUnloadNow)();

    static const Component& Load() {
        static const Component component = [] {
            void* module = dlopen(ZORVIK_COMPONENT_PATH, RTLD_NOW | RTLD_LOCAL);
            if (!module) throw std::runtime_error(dlerror());
            return Component{reinterpret_cast<HRESULT (*)(HSTRING, IActivationFactory**)>(dlsym(module, "DllGetActivationFactory")),
                             reinterpret_cast<HRESULT (*)()>(dlsym(module, "DllCanUnloadNow"))};
        }();
        return component;
    }
};

com_ptr<IActivationFactory> Factory(const wchar_t* className, HRESULT* result = nullptr) {
    com_ptr<IActivationFactory> factory;
    const HRESULT hr = Component::Load().GetActivationFactory(hstring(className).get(), factory.put());
    if (result) *result = hr;
    return factory;
}

std::wstring ClassName(IInspectable* object) {
    hstring name;
    EXPECT_EQ(object->GetRuntimeClassName(name.put()), S_OK);
    return std::wstring(name.view());
}

TEST(Activation, ArchiveFactoryAndInstancesReportTheirNames) {
    auto factory = Factory(L"Zorvik.Archive");
    ASSERT_TRUE(factory);
    EXPECT_EQ(ClassName(factory.get()), L"Zorvik.__ArchiveActivationFactory");

    com_ptr<IInspectable> first, second;
    ASSERT_EQ(factory->ActivateInstance(first.put()), S_OK);
    ASSERT_EQ(factory->ActivateInstance(second.put()), S_OK);
    EXPECT_NE(first.get(), second.get());
    EXPECT_EQ(ClassName(first.get()), L"Zorvik.Archive");
    TrustLevel level = FullTrust;
    EXPECT_EQ(first->GetTrustLevel(&level), S_OK);
    EXPECT_EQ(level, BaseTrust);
    EXPECT_TRUE(first.try_as<Zorvik::IArchive>());
    EXPECT_TRUE(first.try_as<ABI::Windows::Foundation::IClosable>());
    EXPECT_TRUE(first.try_as<IWeakReferenceSource>());
}

TEST(Activation, UnknownClassIsNotRegistered) {
    HRESULT hr = S_OK;
    EXPECT_FALSE(Factory(L"Zorvik.Nothing", &hr));
    EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);
    EXPECT_EQ(Component::Load().GetActivationFactory(hstring(L"Zorvik.Archive").get(), nullptr), E_POINTER);
}

TEST(Activation, CanUnloadOnlyWhenNothingHandedOutIsAlive) {
    const auto& component = Component::Load();
    EXPECT_EQ(component.CanUnloadNow(), S_OK);
    {
        auto factory = Factory(L"Zorvik.Archive");
        EXPECT_EQ(component.CanUnloadNow(), S_FALSE);
        com_ptr<IInspectable> archive;
        ASSERT_EQ(factory->ActivateInstance(archive.put()), S_OK);
        factory = nullptr;
        EXPECT_EQ(component.CanUnloadNow(), S_FALSE);
    }
    EXPECT_EQ(component.CanUnloadNow(), S_OK);
}

TEST(Activation, ClassesWithoutDefaultConstructorRefuseActivation) {
    for (const wchar_t* name :
         {L"Zorvik.ArchiveInfo", L"Zorvik.CompressorDescription", L"Zorvik.ArchiveFormat", L"Zorvik.ArchiveEntryProperties",
          L"Zorvik.ArchiveFolder", L"Zorvik.ArchiveFile", L"Zorvik.CompressionOptions"}) {
        auto factory = Factory(name);
        ASSERT_TRUE(factory) << zorvik::rt::to_utf8(name);
        const std::wstring expected = L"Zorvik.__" + std::wstring(name + 7) + L"ActivationFactory";
        EXPECT_EQ(ClassName(factory.get()), expected);
        com_ptr<IInspectable> instance;
        EXPECT_EQ(factory->ActivateInstance(instance.put()), E_NOTIMPL) << zorvik::rt::to_utf8(name);
        EXPECT_FALSE(instance);
    }
}

TEST(Activation, StaticsAreTheFactoriesDefaultInterfaceAndWhatTheyHandOutKeepsTheModuleLoaded) {
    auto statics = Factory(L"Zorvik.ArchiveInfo").as<Zorvik::__IArchiveInfoStatics>();
    com_ptr<ABI::Windows::Foundation::Collections::IVector<Zorvik::IArchiveFormat*>> formats;
    ASSERT_EQ(statics->get_Formats(formats.put()), S_OK);
    statics = nullptr;
    std::uint32_t count = 0;
    ASSERT_EQ(formats->get_Size(&count), S_OK);
    EXPECT_GT(count, 10u);
    EXPECT_EQ(Component::Load().CanUnloadNow(), S_FALSE) << "a vector of formats is still referenced";
    formats = nullptr;
    EXPECT_EQ(Component::Load().CanUnloadNow(), S_OK);

    auto descriptions = Factory(L"Zorvik.CompressorDescription").as<Zorvik::__ICompressorDescriptionStatics>();
    std::uint32_t described = 0;
    Zorvik::ICompressorDescription** items = nullptr;
    ASSERT_EQ(descriptions->GetCompressorDescriptions(&described, &items), S_OK);
    EXPECT_EQ(described, 6u);
    for (std::uint32_t i = 0; i < described; ++i) items[i]->Release();
    CoTaskMemFree(items);
}

TEST(Archive, MissingArgumentsAreRefusedAndDisposeClosesEverything) {
    com_ptr<IInspectable> instance;
    ASSERT_EQ(Factory(L"Zorvik.Archive")->ActivateInstance(instance.put()), S_OK);
    auto archive = instance.as<Zorvik::IArchive>();
    com_ptr<Zorvik::IAsyncOperation<bool>> creation;
    EXPECT_EQ(archive->CreateAsync(nullptr, nullptr, creation.put()), E_INVALIDARG);
    bool flag = true;
    EXPECT_EQ(archive->get_CanUpdate(&flag), S_OK);
    EXPECT_FALSE(flag) << "nothing is open";
    ASSERT_EQ(instance.as<ABI::Windows::Foundation::IClosable>()->Close(), S_OK);
    EXPECT_EQ(archive->get_CanUpdate(&flag), RO_E_CLOSED);
    com_ptr<Zorvik::IAsyncOperation<bool>> operation;
    EXPECT_EQ(archive->CloseAsync(operation.put()), RO_E_CLOSED);
}

TEST(Archive, MissingEngineModuleFailsActivationCleanly) {
    // In a freshly started process, so that no engine is loaded yet.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("ZORVIK_ENGINE", "/nonexistent/lib7z.UWP.so", 1);
            com_ptr<IInspectable> instance;
            const HRESULT hr = Factory(L"Zorvik.Archive")->ActivateInstance(instance.put());
            std::exit(hr == HRESULT_FROM_WIN32(126) && !instance ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
