// zorvik::CompressionOptions: how a new archive is written (format, method, level, password,
// encryption, solid, volumes), checked against what the format offers.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "zorvik/Archive.h"
#include "zorvik/Compression.h"
#include "zorvik/projection/Hooks.h"

namespace zorvik {

using Method = Zorvik::CompressionMethod;
using Level = Zorvik::CompressionLevel;
using Encryption = Zorvik::EncryptionMethod;

struct CompressionOptions {
    std::string format = {};  // as its extension names it: "7z", "zip", "tar", "tar.gz" ...
    std::optional<Method> method = {};
    std::optional<Level> level = {};
    // A password encrypts the entries, with encryption or else the format's strongest cipher.
    Password password = {};
    std::optional<Encryption> encryption = {};
    bool encrypt_headers = false;  // hides the names too (7z)
    std::optional<bool> solid = {};
    std::uint64_t volume_size = 0;  // bytes per volume; 0 writes one file
};

namespace detail {

template <typename T>
std::vector<T> offered(Zorvik::ICompressorDescription* description,
                       HRESULT (Zorvik::ICompressorDescription::*getter)(std::uint32_t*, T**)) {
    std::uint32_t count = 0;
    T* values = nullptr;
    check((description->*getter)(&count, &values), "CompressionOptions");
    std::vector<T> result(values, values + count);
    CoTaskMemFree(values);
    return result;
}

inline bool flag(Zorvik::ICompressorDescription* description, HRESULT (Zorvik::ICompressorDescription::*getter)(bool*)) {
    bool value = false;
    check((description->*getter)(&value), "CompressionOptions");
    return value;
}

// Sets options on an archive just created; InvalidArgument for a choice the format lacks.
inline void apply(Zorvik::IArchive* archive, const CompressionOptions& options, const ErrorContext& context) {
    const auto refuse = [&](const std::string& reason) { throw Error(ErrorCode::InvalidArgument, E_INVALIDARG, reason, context); };
    zorvik::rt::com_ptr<Zorvik::ICompressorDescription> description;
    check(archive->get_CompressorDescription(description.put()), "Archive::create");
    const bool encrypts = !options.password.empty() || options.encryption || options.encrypt_headers;
    if (!description) {
        if (options.method || options.level || encrypts || options.solid) refuse("this format takes no compression options");
        return;
    }
    zorvik::rt::com_ptr<Zorvik::ICompressionOptions> chosen;
    check(archive->get_CompressionOptions(chosen.put()), "Archive::create");
    if (options.method) {
        const auto methods = offered(description.get(), &Zorvik::ICompressorDescription::get_CompressionMethods);
        if (std::find(methods.begin(), methods.end(), *options.method) == methods.end()) refuse("this format does not offer that method");
        check(chosen->put_CompressionMethod(*options.method), "Archive::create");
    }
    if (options.level) check(chosen->put_CompressionLevel(*options.level), "Archive::create");
    if (encrypts) {
        if (options.password.empty()) refuse("encryption needs a password");
        if (!flag(description.get(), &Zorvik::ICompressorDescription::get_SupportsEncryption)) refuse("this format cannot encrypt");
        const auto ciphers = offered(description.get(), &Zorvik::ICompressorDescription::get_EncryptionMethods);
        Encryption cipher = options.encryption.value_or(Encryption::AES256);
        if (!options.encryption && std::find(ciphers.begin(), ciphers.end(), cipher) == ciphers.end() && !ciphers.empty())
            cipher = ciphers.back();
        if (!ciphers.empty() && std::find(ciphers.begin(), ciphers.end(), cipher) == ciphers.end())
            refuse("this format does not offer that cipher");
        if (!ciphers.empty()) check(chosen->put_EncryptionMethod(cipher), "Archive::create");
        check(chosen->put_UseEncryption(true), "Archive::create");
    }
    if (options.encrypt_headers) {
        if (!flag(description.get(), &Zorvik::ICompressorDescription::get_SupportsHeaderEncryption))
            refuse("this format cannot encrypt its headers");
        check(chosen->put_EncryptHeaders(true), "Archive::create");
    }
    if (options.solid) {
        if (*options.solid && !flag(description.get(), &Zorvik::ICompressorDescription::get_SupportsSolid))
            refuse("this format has no solid mode");
        check(chosen->put_IsSolid(*options.solid), "Archive::create");
    }
    check(archive->put_CompressionOptions(chosen.get()), "Archive::create");
}

}  // namespace detail
}  // namespace zorvik
