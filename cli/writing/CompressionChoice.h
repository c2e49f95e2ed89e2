// How a writing command compresses: the user's --method, --level, --encryption,
// --encrypt-headers and --solid/--no-solid, checked against what the archive's format offers and
// set as the archive's compression options.
#pragma once

#include <optional>
#include <string>

#include "zorvik/Archive.h"

namespace Zorvik::Cli {

struct CompressionChoice {
    std::string method;      // empty: the format's default (LZMA2 for 7z, as 7zz writes it)
    int level = -1;          // 0 to 9; -1: the format's default
    std::string encryption;  // "ZipCrypto" or "AES256"; empty: the format's default
    bool encryptHeaders = false;
    std::optional<bool> solid;  // none: solid for 7z, as 7zz writes it
    bool passwordGiven = false;
};

// Sets the options of archive's format; a choice the format does not offer, or an encryption
// choice without a password, is a usage error (CommandError). keepHeadersHidden keeps the
// names of a 7z hidden that were hidden when it was opened.
void ApplyCompressionChoice(IArchive* archive, const std::string& archiveName, const CompressionChoice& choice, bool keepHeadersHidden);

// Whether archive's format can encrypt what is written into it.
bool FormatEncrypts(IArchive* archive);

}  // namespace Zorvik::Cli
