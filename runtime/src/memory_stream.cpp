#include "memory_stream.h"

#include <algorithm>
#include <cstring>

#include "random_access_stream.h"

namespace zorvik::rt {

std::uint32_t memory_store::read_at(std::uint64_t position, std::uint8_t* bytes, std::uint32_t count) {
    if (position >= data_.size()) return 0;
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, data_.size() - position));
    std::memcpy(bytes, data_.data() + position, n);
    return n;
}

void memory_store::write_at(std::uint64_t position, const std::uint8_t* bytes, std::uint32_t count) {
    if (count == 0) return;
    if (position > data_.max_size() || count > data_.max_size() - position) throw out_of_memory_error();
    // resize grows geometrically, so appending stays linear; a gap is zero-filled.
    if (position + count > data_.size()) data_.resize(position + count);
    std::memcpy(data_.data() + position, bytes, count);
}

void memory_store::set_size(std::uint64_t size) {
    if (size > data_.max_size()) throw out_of_memory_error();
    data_.resize(size);
}

com_ptr<IInspectable> create_in_memory_stream() {
    return make<random_access_stream>(std::make_shared<memory_store>(), 0).as<IInspectable>();
}

}  // namespace zorvik::rt
