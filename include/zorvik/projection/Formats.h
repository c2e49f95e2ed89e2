// What the component offers: the engine's formats, the writable ones with their compression
// choices, the versions loaded, and sorting a folder's children in a caller's order.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "zorvik/Activation.h"
#include "zorvik/ComponentVersions.h"
#include "zorvik/Compression.h"
#include "zorvik/Formats.h"
#include "zorvik/projection/Items.h"
#include "zorvik/projection/Options.h"

namespace zorvik {

struct Format {
    std::string name;
    std::string extension;  // the first the format is known by, without a dot
    bool can_update = false;
    bool keeps_name = false;  // a single compressed file (gz, xz ...)
    zorvik::rt::com_ptr<Zorvik::IArchiveFormat> abi = {};

    // Whether a file type (without a dot, any case) names this format, among all it is known by.
    bool has_extension(const std::string& file_type) const {
        bool matches = false;
        detail::check(abi->HasExtension(zorvik::rt::hstring(zorvik::rt::to_wide(file_type)).get(), &matches), "Format::has_extension");
        return matches;
    }
};

// Every engine format, in probing order (ArchiveInfo.Formats).
inline std::vector<Format> formats() {
    try {
        const auto statics = Zorvik::GetActivationFactory<Zorvik::__IArchiveInfoStatics>(L"Zorvik.ArchiveInfo");
        zorvik::rt::com_ptr<Zorvik::IVector<Zorvik::IArchiveFormat*>> vector;
        zorvik::rt::check_hresult(statics->get_Formats(vector.put()));
        std::uint32_t count = 0;
        zorvik::rt::check_hresult(vector->get_Size(&count));
        std::vector<Format> result;
        for (std::uint32_t i = 0; i < count; ++i) {
            zorvik::rt::com_ptr<Zorvik::IArchiveFormat> format;
            zorvik::rt::check_hresult(vector->GetAt(i, format.put()));
            zorvik::rt::hstring name, extension;
            Format entry;
            zorvik::rt::check_hresult(format->get_Name(name.put()));
            zorvik::rt::check_hresult(format->get_DefaultExtension(extension.put()));
            zorvik::rt::check_hresult(format->get_CanUpdate(&entry.can_update));
            zorvik::rt::check_hresult(format->get_KeepsName(&entry.keeps_name));
            entry.name = detail::text(name);
            entry.extension = detail::text(extension);
            entry.abi = std::move(format);
            result.push_back(std::move(entry));
        }
        return result;
    } catch (...) {
        detail::rethrow_as_error({"zorvik::formats", {}, {}});
    }
}

// A writable format and the choices it offers (CompressorDescription).
struct Compressor {
    std::string format;
    std::vector<Method> methods;
    std::vector<Level> levels;
    std::vector<Encryption> ciphers;
    bool encrypts = false;
    bool solid = false;
    bool encrypts_headers = false;
};

inline std::vector<Compressor> compressors() {
    try {
        const auto statics = Zorvik::GetActivationFactory<Zorvik::__ICompressorDescriptionStatics>(L"Zorvik.CompressorDescription");
        std::uint32_t count = 0;
        Zorvik::ICompressorDescription** descriptions = nullptr;
        zorvik::rt::check_hresult(statics->GetCompressorDescriptions(&count, &descriptions));
        std::vector<zorvik::rt::com_ptr<Zorvik::ICompressorDescription>> owned(count);
        for (std::uint32_t i = 0; i < count; ++i) owned[i].attach(descriptions[i]);
        CoTaskMemFree(descriptions);
        std::vector<Compressor> result;
        for (const auto& description : owned) {
            zorvik::rt::hstring name;
            zorvik::rt::check_hresult(description->get_FormatName(name.put()));
            result.push_back({detail::text(name),
                              detail::offered(description.get(), &Zorvik::ICompressorDescription::get_CompressionMethods),
                              detail::offered(description.get(), &Zorvik::ICompressorDescription::get_CompressionLevels),
                              detail::offered(description.get(), &Zorvik::ICompressorDescription::get_EncryptionMethods),
                              detail::flag(description.get(), &Zorvik::ICompressorDescription::get_SupportsEncryption),
                              detail::flag(description.get(), &Zorvik::ICompressorDescription::get_SupportsSolid),
                              detail::flag(description.get(), &Zorvik::ICompressorDescription::get_SupportsHeaderEncryption)});
        }
        return result;
    } catch (...) {
        detail::rethrow_as_error({"zorvik::compressors", {}, {}});
    }
}

struct Versions {
    std::string component;  // "MAJOR.MINOR.PATCH"
    std::string engine;     // the engine module's own ("26.02"); loading it if need be
};

inline Versions versions() {
    try {
        const auto versions = Zorvik::GetActivationFactory<Zorvik::IComponentVersions>(L"Zorvik.ArchiveInfo");
        zorvik::rt::hstring component, engine;
        zorvik::rt::check_hresult(versions->get_ComponentVersion(component.put()));
        zorvik::rt::check_hresult(versions->get_EngineVersion(engine.put()));
        return {detail::text(component), detail::text(engine)};
    } catch (...) {
        detail::rethrow_as_error({"zorvik::versions", {}, {}});
    }
}

namespace detail {
class comparer_object final : public zorvik::rt::implements<comparer_object, Zorvik::IArchiveItemComparer> {
public:
    explicit comparer_object(std::function<bool(const ArchiveItem&, const ArchiveItem&)> precedes) : precedes_(std::move(precedes)) {}
    HRESULT Precedes(Zorvik::IArchiveItem* first, Zorvik::IArchiveItem* second, bool* result) override {
        if (!result) return E_POINTER;
        return zorvik::rt::boundary([&] {
            *result = precedes_(ArchiveItem(zorvik::rt::com_ptr<Zorvik::IArchiveItem>::copy_from(first)),
                                ArchiveItem(zorvik::rt::com_ptr<Zorvik::IArchiveItem>::copy_from(second)));
        });
    }

private:
    const std::function<bool(const ArchiveItem&, const ArchiveItem&)> precedes_;
};
}  // namespace detail

// Puts a folder's children in the order precedes gives (a strict weak ordering), stably, in
// the folder's own vector: children() shows them so from then on.
inline void sort(const ArchiveFolder& folder, std::function<bool(const ArchiveItem&, const ArchiveItem&)> precedes) {
    try {
        const auto sorter = Zorvik::ActivateInstance<Zorvik::ISorter>(L"Zorvik.Sorter");
        zorvik::rt::com_ptr<Zorvik::IObservableVector<Zorvik::IArchiveItem*>> items;
        zorvik::rt::check_hresult(folder.folder_abi()->get_Items(items.put()));
        const auto comparer = zorvik::rt::make<detail::comparer_object>(std::move(precedes));
        zorvik::rt::check_hresult(sorter->Sort(items.as<Zorvik::IVector<Zorvik::IArchiveItem*>>().get(), comparer.get()));
    } catch (...) {
        detail::rethrow_as_error({"zorvik::sort", {}, folder.path()});
    }
}

}  // namespace zorvik
