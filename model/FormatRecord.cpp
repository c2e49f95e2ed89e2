#include "model/FormatRecord.h"

#include <algorithm>
#include <cstring>
#include <locale>
#include <optional>
#include <span>

#include <boost/algorithm/string/predicate.hpp>

#include "model/CompressorDescription.h"
#include "zorvik/runtime/oleauto.h"

namespace Zorvik::Impl {

namespace {

using zorvik::rt::com_ptr;
using zorvik::rt::prop_variant;

// One handler property; a failing call gives an empty value.
prop_variant HandlerProperty(const Engine::EngineModule& engine, std::uint32_t index, Engine::PROPID id) {
    prop_variant value;
    if (FAILED(engine.GetHandlerProperty2(index, id, value.put()))) value.put();
    return value;
}

std::wstring StringOf(const prop_variant& value) { return std::wstring(value.as_string().value_or(std::wstring_view())); }

bool BoolOf(const prop_variant& value) { return value.as_bool().value_or(false); }

// The engine passes binary data as a BSTR whose byte length is the data's length.
std::span<const std::uint8_t> BytesOf(const prop_variant& value) {
    const PROPVARIANT& raw = value.get();
    if (raw.vt != VT_BSTR || !raw.bstrVal) return {};
    return {reinterpret_cast<const std::uint8_t*>(raw.bstrVal), SysStringByteLen(raw.bstrVal)};
}

// Several signatures come as blocks of one length byte followed by that many bytes; the
// first block stands for the format. Malformed data gives none.
std::vector<std::uint8_t> FirstSignature(std::span<const std::uint8_t> blocks) {
    if (blocks.empty()) return {};
    const std::size_t length = blocks[0];
    if (length > blocks.size() - 1) return {};
    const auto first = blocks.subspan(1, length);
    return {first.begin(), first.end()};
}

std::vector<std::wstring> SplitAtSpaces(std::wstring_view text) {
    std::vector<std::wstring> tokens;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find(L' ', start), text.size());
        if (end > start) tokens.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return tokens;
}

std::vector<FormatExtension> PairExtensions(std::wstring_view extensions, std::wstring_view addExtensions) {
    const auto names = SplitAtSpaces(extensions);
    const auto added = SplitAtSpaces(addExtensions);
    std::vector<FormatExtension> pairs;
    pairs.reserve(names.size());
    for (std::size_t k = 0; k < names.size(); ++k) {
        std::wstring addExtension = k < added.size() ? added[k] : std::wstring();
        // "*" marks an extension whose unpacked result keeps the archive's name.
        if (addExtension == L"*") addExtension.clear();
        pairs.push_back({names[k], std::move(addExtension)});
    }
    return pairs;
}

FormatRecord BuildRecord(const Engine::EngineModule& engine, std::uint32_t index) {
    FormatRecord record;
    record.Name = StringOf(HandlerProperty(engine, index, Engine::kHandlerName));

    const auto classId = HandlerProperty(engine, index, Engine::kHandlerClassID);
    const auto classIdBytes = BytesOf(classId);
    // A shorter value fills only its own bytes: nothing is read past its end.
    if (!classIdBytes.empty()) std::memcpy(&record.ClassId, classIdBytes.data(), std::min(classIdBytes.size(), sizeof(GUID)));

    const auto signature = HandlerProperty(engine, index, Engine::kHandlerSignature);
    const auto signatureBytes = BytesOf(signature);
    if (!signatureBytes.empty()) {
        record.Signature.assign(signatureBytes.begin(), signatureBytes.end());
    } else {
        // Formats known by several signatures report them only as a list.
        record.Signature = FirstSignature(BytesOf(HandlerProperty(engine, index, Engine::kHandlerMultiSignature)));
    }

    record.Extensions = PairExtensions(StringOf(HandlerProperty(engine, index, Engine::kHandlerExtension)),
                                       StringOf(HandlerProperty(engine, index, Engine::kHandlerAddExtension)));
    record.CanUpdate = BoolOf(HandlerProperty(engine, index, Engine::kHandlerUpdate));
    record.KeepsName = BoolOf(HandlerProperty(engine, index, Engine::kHandlerKeepName));
    return record;
}

}  // namespace

bool NamesEqual(std::wstring_view a, std::wstring_view b) { return boost::algorithm::iequals(a, b, std::locale()); }

FormatList BuildFormatList(const Engine::EngineModule& engine) {
    std::uint32_t count = 0;
    engine.GetNumberOfFormats(&count);
    FormatList formats;
    formats.reserve(count);
    std::optional<std::size_t> iso, udf;
    std::vector<com_ptr<ICompressorDescription>> compressors;  // fetched for the first updatable format
    for (std::uint32_t i = 0; i < count; ++i) {
        FormatRecord record = BuildRecord(engine, i);
        if (record.CanUpdate) {
            if (compressors.empty()) compressors = CompressorDescriptions();
            record.Compressor = FindCompressorDescription(compressors, record.Name);
        }
        formats.push_back(std::move(record));
        const std::wstring& name = formats.back().Name;
        if (!iso && NamesEqual(name, L"iso")) iso = formats.size() - 1;
        if (!udf && NamesEqual(name, L"udf")) udf = formats.size() - 1;
    }
    if (iso && udf && *iso < *udf) std::swap(formats[*iso], formats[*udf]);
    return formats;
}

}  // namespace Zorvik::Impl
