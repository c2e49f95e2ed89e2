#include "cli/writing/CompressionChoice.h"

#include <strings.h>

#include <algorithm>
#include <vector>

#include "cli/terminal/ExitCode.h"
#include "zorvik/Compression.h"
#include "zorvik/runtime/com_ptr.h"

namespace Zorvik::Cli {

using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;

namespace {

template <typename T>
struct Named {
    const char* name;
    T value;
};

constexpr Named<CompressionMethod> kMethods[] = {
    {"Copy", CompressionMethod::Copy},           {"LZMA", CompressionMethod::LZMA},   {"LZMA2", CompressionMethod::LZMA2},
    {"PPMd", CompressionMethod::PPMd},           {"BZip2", CompressionMethod::BZip2}, {"Deflate", CompressionMethod::Deflate},
    {"Deflate64", CompressionMethod::Deflate64},
};
constexpr Named<EncryptionMethod> kCiphers[] = {{"ZipCrypto", EncryptionMethod::ZipCrypto}, {"AES256", EncryptionMethod::AES256}};

// One of the description's arrays (elements CoTaskMemAlloc'd, freed here).
template <typename T>
std::vector<T> ArrayOf(ICompressorDescription* description, HRESULT (ICompressorDescription::*getter)(std::uint32_t*, T**)) {
    std::uint32_t count = 0;
    T* values = nullptr;
    check_hresult((description->*getter)(&count, &values));
    std::vector<T> result(values, values + count);
    CoTaskMemFree(values);
    return result;
}

bool Flag(ICompressorDescription* description, HRESULT (ICompressorDescription::*getter)(bool*)) {
    bool value = false;
    check_hresult((description->*getter)(&value));
    return value;
}

// The value named (ignoring case) that the format offers; a usage error otherwise.
template <typename T, std::size_t N>
T Offered(const Named<T> (&names)[N], const std::vector<T>& offered, const std::string& wanted, const std::string& archiveName,
          const std::string& formatName, const char* what) {
    std::string list;
    for (const auto& named : names) {
        if (std::find(offered.begin(), offered.end(), named.value) == offered.end()) continue;
        if (::strcasecmp(named.name, wanted.c_str()) == 0) return named.value;
        list += (list.empty() ? "" : ", ") + std::string(named.name);
    }
    throw CommandError(ExitCode::Usage, archiveName,
                       formatName + (list.empty() ? " offers no " + std::string(what) : " offers the " + std::string(what) + " " + list));
}

}  // namespace

bool FormatEncrypts(IArchive* archive) {
    com_ptr<ICompressorDescription> description;
    check_hresult(archive->get_CompressorDescription(description.put()));
    return description && Flag(description.get(), &ICompressorDescription::get_SupportsEncryption);
}

void ApplyCompressionChoice(IArchive* archive, const std::string& archiveName, const CompressionChoice& choice, bool keepHeadersHidden) {
    const auto refuse = [&](const std::string& reason) { throw CommandError(ExitCode::Usage, archiveName, reason); };
    com_ptr<ICompressorDescription> description;
    check_hresult(archive->get_CompressorDescription(description.put()));
    const bool anyChoice =
        !choice.method.empty() || choice.level >= 0 || !choice.encryption.empty() || choice.encryptHeaders || choice.solid;
    if (!description) {
        if (anyChoice) refuse("this format takes no compression options");
        return;
    }
    zorvik::rt::hstring described;
    check_hresult(description->get_FormatName(described.put()));
    const std::string formatName = zorvik::rt::to_utf8(described.view());
    const bool sevenZip = ::strcasecmp(formatName.c_str(), "7z") == 0;
    com_ptr<ICompressionOptions> options;
    check_hresult(archive->get_CompressionOptions(options.put()));

    if (!choice.method.empty()) {
        const auto methods = ArrayOf(description.get(), &ICompressorDescription::get_CompressionMethods);
        check_hresult(options->put_CompressionMethod(Offered(kMethods, methods, choice.method, archiveName, formatName, "methods")));
    } else if (sevenZip) {
        check_hresult(options->put_CompressionMethod(CompressionMethod::LZMA2));
    }
    if (choice.level > 0) {
        const auto levels = ArrayOf(description.get(), &ICompressorDescription::get_CompressionLevels);
        if (std::none_of(levels.begin(), levels.end(), [](CompressionLevel level) { return level != CompressionLevel::Store; }))
            refuse(formatName + " has no compression levels: it stores its data as it is");
    }
    if (choice.level >= 0) check_hresult(options->put_CompressionLevel(static_cast<CompressionLevel>(choice.level)));

    if (!choice.encryption.empty()) {
        if (!choice.passwordGiven) refuse("--encryption needs a password");
        const auto ciphers = ArrayOf(description.get(), &ICompressorDescription::get_EncryptionMethods);
        check_hresult(
            options->put_EncryptionMethod(Offered(kCiphers, ciphers, choice.encryption, archiveName, formatName, "encryption methods")));
        check_hresult(options->put_UseEncryption(true));
    }

    const bool hidesNames = Flag(description.get(), &ICompressorDescription::get_SupportsHeaderEncryption);
    if (choice.encryptHeaders && !hidesNames) refuse(formatName + " cannot encrypt its headers");
    if (choice.encryptHeaders && !choice.passwordGiven) refuse("--encrypt-headers needs a password");
    if (hidesNames) check_hresult(options->put_EncryptHeaders(choice.encryptHeaders || keepHeadersHidden));

    const bool solidMode = Flag(description.get(), &ICompressorDescription::get_SupportsSolid);
    if (choice.solid && !solidMode) refuse(formatName + " has no solid mode");
    if (solidMode) check_hresult(options->put_IsSolid(choice.solid.value_or(sevenZip)));
    check_hresult(archive->put_CompressionOptions(options.get()));
}

}  // namespace Zorvik::Cli
