#include "model/Sorter.h"

#include <vector>

namespace Zorvik {

using zorvik::rt::check_hresult;
using zorvik::rt::com_ptr;

namespace {

// Runs shorter than this are ordered by insertion.
constexpr std::uint32_t kInsertionRun = 32;

class MergeSort {
public:
    MergeSort(IVector<IArchiveItem*>& items, IArchiveItemComparer& comparer, std::uint32_t count) : items_(items), comparer_(comparer) {
        buffer_.reserve((count + 1) / 2);
    }

    void Sort(std::uint32_t begin, std::uint32_t end) {
        if (end - begin <= kInsertionRun) {
            InsertionSort(begin, end);
            return;
        }
        const std::uint32_t middle = begin + (end - begin + 1) / 2;
        Sort(begin, middle);
        Sort(middle, end);
        // Halves already in order need no writes, so views see no change for them.
        if (!Precedes(At(middle), At(middle - 1))) return;
        Merge(begin, middle, end);
    }

private:
    com_ptr<IArchiveItem> At(std::uint32_t index) {
        com_ptr<IArchiveItem> item;
        check_hresult(items_.GetAt(index, item.put()));
        return item;
    }
    void Put(std::uint32_t index, const com_ptr<IArchiveItem>& item) { check_hresult(items_.SetAt(index, item.get())); }
    bool Precedes(const com_ptr<IArchiveItem>& first, const com_ptr<IArchiveItem>& second) {
        bool result = false;
        check_hresult(comparer_.Precedes(first.get(), second.get(), &result));
        return result;
    }

    void InsertionSort(std::uint32_t begin, std::uint32_t end) {
        for (std::uint32_t next = begin + 1; next < end; ++next) {
            com_ptr<IArchiveItem> moving = At(next);
            com_ptr<IArchiveItem> before = At(next - 1);
            if (!Precedes(moving, before)) continue;
            std::uint32_t hole = next;
            for (;;) {
                Put(hole, before);
                --hole;
                if (hole == begin) break;
                before = At(hole - 1);
                if (!Precedes(moving, before)) break;
            }
            Put(hole, moving);
        }
    }

    // Left run into the buffer, then both runs back; on ties the left one goes first, which
    // keeps the sort stable. What is left of the right run is already in place.
    void Merge(std::uint32_t begin, std::uint32_t middle, std::uint32_t end) {
        buffer_.clear();
        for (std::uint32_t i = begin; i < middle; ++i) buffer_.push_back(At(i));
        std::size_t left = 0;
        std::uint32_t right = middle;
        std::uint32_t out = begin;
        com_ptr<IArchiveItem> rightItem = At(right);
        bool rightRemains = true;
        while (left < buffer_.size()) {
            if (rightRemains && Precedes(rightItem, buffer_[left])) {
                Put(out++, rightItem);
                if (++right < end)
                    rightItem = At(right);
                else
                    rightRemains = false;
            } else {
                Put(out++, buffer_[left++]);
            }
        }
    }

    IVector<IArchiveItem*>& items_;
    IArchiveItemComparer& comparer_;
    std::vector<com_ptr<IArchiveItem>> buffer_;
};

}  // namespace

HRESULT Sorter::Sort(IVector<IArchiveItem*>* items, IArchiveItemComparer* comparer) {
    return zorvik::rt::boundary([&] {
        zorvik::rt::check_pointer(items);
        zorvik::rt::check_pointer(comparer);
        const auto heldComparer = com_ptr<IArchiveItemComparer>::copy_from(comparer);
        std::uint32_t count = 0;
        check_hresult(items->get_Size(&count));
        if (count < 2) return;
        MergeSort(*items, *heldComparer, count).Sort(0, count);
    });
}

}  // namespace Zorvik
