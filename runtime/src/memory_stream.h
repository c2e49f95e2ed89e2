// The growable store behind InMemoryRandomAccessStream.
#pragma once

#include <vector>

#include "stream_store.h"
#include "zorvik/runtime/com_ptr.h"

namespace zorvik::rt {

class memory_store final : public stream_store {
public:
    const char* class_name() const noexcept override { return "Windows.Storage.Streams.InMemoryRandomAccessStream"; }
    bool can_write() const noexcept override { return true; }
    std::uint32_t read_at(std::uint64_t position, std::uint8_t* bytes, std::uint32_t count) override;
    void write_at(std::uint64_t position, const std::uint8_t* bytes, std::uint32_t count) override;
    std::uint64_t size() override { return data_.size(); }
    void set_size(std::uint64_t size) override;
    void flush() override {}

private:
    std::vector<std::uint8_t> data_;
};

// A new, empty InMemoryRandomAccessStream.
com_ptr<IInspectable> create_in_memory_stream();

}  // namespace zorvik::rt
