// The Items vector of a folder: an observable vector of its children in the order they were
// added. Until a caller changes it, it holds only the children's node numbers and hands out
// their objects on demand, so that walking a large tree keeps no object of it alive; the first
// change (or handler) turns it into a vector of the objects themselves, kept while the tree is
// the archive's.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "base/ComponentObject.h"
#include "zorvik/Items.h"
#include "zorvik/runtime/collections.h"

namespace Zorvik::Impl {

class PackedTree;

using ABI::Windows::Foundation::EventRegistrationToken;
using ABI::Windows::Foundation::Collections::IIterable;
using ABI::Windows::Foundation::Collections::IIterator;
using ABI::Windows::Foundation::Collections::IVectorView;
using ABI::Windows::Foundation::Collections::VectorChangedEventHandler;

class FolderItems final
    : public ComponentObject<FolderItems, IObservableVector<IArchiveItem*>, IVector<IArchiveItem*>, IIterable<IArchiveItem*>> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.Runtime.ObservableVector";

    FolderItems(std::shared_ptr<PackedTree> tree, std::uint32_t folder);
    ~FolderItems() override;

    // IVector
    HRESULT GetAt(std::uint32_t index, IArchiveItem** item) override;
    HRESULT get_Size(std::uint32_t* size) override;
    HRESULT GetView(IVectorView<IArchiveItem*>** view) override;
    HRESULT IndexOf(IArchiveItem* value, std::uint32_t* index, bool* found) override;
    HRESULT SetAt(std::uint32_t index, IArchiveItem* item) override;
    HRESULT InsertAt(std::uint32_t index, IArchiveItem* item) override;
    HRESULT RemoveAt(std::uint32_t index) override;
    HRESULT Append(IArchiveItem* item) override;
    HRESULT RemoveAtEnd() override;
    HRESULT Clear() override;
    HRESULT GetMany(std::uint32_t startIndex, std::uint32_t capacity, IArchiveItem** items, std::uint32_t* actual) override;
    HRESULT ReplaceAll(std::uint32_t count, IArchiveItem** items) override;
    // IIterable: walks a snapshot, so a reader's walk is unaffected by a concurrent writer.
    HRESULT First(IIterator<IArchiveItem*>** first) override;
    // IObservableVector
    HRESULT add_VectorChanged(VectorChangedEventHandler<IArchiveItem*>* handler, EventRegistrationToken* token) override;
    HRESULT remove_VectorChanged(EventRegistrationToken token) override;

private:
    using Element = zorvik::rt::com_ptr<IArchiveItem>;
    using Change = ABI::Windows::Foundation::Collections::CollectionChange;

    // Under mutex_.
    std::size_t SizeLocked() const noexcept;
    Element AtLocked(std::size_t index) const;
    std::vector<Element> RangeLocked(std::uint32_t start, std::uint32_t capacity) const;
    // Every element's object, for views and iterators.
    zorvik::rt::snapshot<IArchiveItem*> Snapshot() const;
    // The objects of the children from now on; pins the vector the first time.
    std::vector<Element>& Changed();
    // Kept by the tree from the first change or handler on.
    void PinOnce();
    // Runs change on the objects under the lock, then tells the handlers.
    template <typename Body>
    HRESULT ChangeAndRaise(Body&& body);
    void Raise(Change change, std::uint32_t index);

    const std::shared_ptr<PackedTree> tree_;
    const std::uint32_t folder_;
    mutable std::mutex mutex_;
    std::vector<std::uint32_t> children_;          // until the first change
    std::optional<std::vector<Element>> changed_;  // from then on
    struct Handler {
        std::int64_t token;
        zorvik::rt::com_ptr<VectorChangedEventHandler<IArchiveItem*>> target;
    };
    std::vector<Handler> handlers_;
    std::int64_t nextToken_ = 1;
    bool pinned_ = false;
};

}  // namespace Zorvik::Impl
