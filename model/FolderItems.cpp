#include "model/FolderItems.h"

#include <limits>

#include "model/PackedTree.h"

namespace Zorvik::Impl {

using zorvik::rt::boundary;
using zorvik::rt::check_pointer;
using zorvik::rt::com_ptr;
using Traits = zorvik::rt::element_traits<IArchiveItem*>;

namespace {
void CheckIndex(std::size_t index, std::size_t size) {
    if (index >= size) throw zorvik::rt::out_of_bounds_error();
}
}  // namespace

FolderItems::FolderItems(std::shared_ptr<PackedTree> tree, std::uint32_t folder)
    : tree_(std::move(tree)), folder_(folder), children_(tree_->Children(folder)) {}

FolderItems::~FolderItems() { tree_->Forget(folder_, this); }

std::size_t FolderItems::SizeLocked() const noexcept { return changed_ ? changed_->size() : children_.size(); }

FolderItems::Element FolderItems::AtLocked(std::size_t index) const {
    CheckIndex(index, SizeLocked());
    return changed_ ? (*changed_)[index] : tree_->Item(children_[index]);
}

std::vector<FolderItems::Element> FolderItems::RangeLocked(std::uint32_t start, std::uint32_t capacity) const {
    const std::size_t size = SizeLocked();
    if (start > size) throw zorvik::rt::out_of_bounds_error();
    std::vector<Element> range;
    range.reserve(std::min<std::size_t>(capacity, size - start));
    for (std::size_t index = start; index < size && range.size() < capacity; ++index) range.push_back(AtLocked(index));
    return range;
}

zorvik::rt::snapshot<IArchiveItem*> FolderItems::Snapshot() const {
    std::lock_guard lock(mutex_);
    return std::make_shared<const std::vector<Element>>(RangeLocked(0, std::numeric_limits<std::uint32_t>::max()));
}

std::vector<FolderItems::Element>& FolderItems::Changed() {
    if (!changed_) {
        std::vector<Element> items;
        items.reserve(children_.size());
        for (const std::uint32_t child : children_) items.push_back(tree_->Item(child));
        changed_ = std::move(items);
        children_ = {};
    }
    PinOnce();
    return *changed_;
}

void FolderItems::PinOnce() {
    if (pinned_) return;
    tree_->Pin(com_ptr<FolderItems>::copy_from(this));
    pinned_ = true;
}

template <typename Body>
HRESULT FolderItems::ChangeAndRaise(Body&& body) {
    return boundary([&] {
        std::vector<Element> released;  // let go of after the lock
        Change change{};
        std::uint32_t index = 0;
        {
            std::lock_guard lock(mutex_);
            std::tie(change, index) = body(Changed(), released);
        }
        Raise(change, index);
    });
}

// A handler's failure does not undo the change, nor keep later handlers from hearing of it.
void FolderItems::Raise(Change change, std::uint32_t index) {
    std::vector<com_ptr<VectorChangedEventHandler<IArchiveItem*>>> targets;
    {
        std::lock_guard lock(mutex_);
        if (handlers_.empty()) return;
        for (const auto& handler : handlers_) targets.push_back(handler.target);
    }
    const auto args = zorvik::rt::make<zorvik::rt::vector_changed_args>(change, index);
    for (const auto& target : targets) target->Invoke(this, args.get());
}

HRESULT FolderItems::GetAt(std::uint32_t index, IArchiveItem** item) {
    return boundary([&] {
        check_pointer(item);
        *item = nullptr;
        Element element;
        {
            std::lock_guard lock(mutex_);
            element = AtLocked(index);
        }
        *item = element.detach();
    });
}

HRESULT FolderItems::get_Size(std::uint32_t* size) {
    return boundary([&] {
        check_pointer(size);
        std::lock_guard lock(mutex_);
        *size = static_cast<std::uint32_t>(SizeLocked());
    });
}

HRESULT FolderItems::GetView(IVectorView<IArchiveItem*>** view) {
    return boundary([&] {
        check_pointer(view);
        *view = zorvik::rt::detach_as<IVectorView<IArchiveItem*>>(zorvik::rt::make<zorvik::rt::snapshot_view<IArchiveItem*>>(Snapshot()));
    });
}

HRESULT FolderItems::IndexOf(IArchiveItem* value, std::uint32_t* index, bool* found) {
    return boundary([&] {
        check_pointer(index);
        check_pointer(found);
        *index = 0;
        *found = false;
        std::lock_guard lock(mutex_);
        if (changed_) {
            *found = zorvik::rt::detail::index_of<IArchiveItem*>(*changed_, value, index);
            return;
        }
        // The caller holds value, so a child it is has its object in use.
        for (std::size_t i = 0; i < children_.size(); ++i) {
            if (const auto child = tree_->ItemInUse(children_[i]); child && Traits::same(child, value)) {
                *index = static_cast<std::uint32_t>(i);
                *found = true;
                return;
            }
        }
    });
}

HRESULT FolderItems::SetAt(std::uint32_t index, IArchiveItem* item) {
    return ChangeAndRaise([&](std::vector<Element>& items, std::vector<Element>& released) {
        CheckIndex(index, items.size());
        released.push_back(std::exchange(items[index], Traits::copy(item)));
        return std::pair(Change::ItemChanged, index);
    });
}

HRESULT FolderItems::InsertAt(std::uint32_t index, IArchiveItem* item) {
    return ChangeAndRaise([&](std::vector<Element>& items, std::vector<Element>&) {
        if (index > items.size()) throw zorvik::rt::out_of_bounds_error();
        if (items.size() >= std::numeric_limits<std::uint32_t>::max()) throw zorvik::rt::out_of_memory_error();
        items.insert(items.begin() + index, Traits::copy(item));
        return std::pair(Change::ItemInserted, index);
    });
}

HRESULT FolderItems::RemoveAt(std::uint32_t index) {
    return ChangeAndRaise([&](std::vector<Element>& items, std::vector<Element>& released) {
        CheckIndex(index, items.size());
        released.push_back(std::move(items[index]));
        items.erase(items.begin() + index);
        return std::pair(Change::ItemRemoved, index);
    });
}

HRESULT FolderItems::Append(IArchiveItem* item) {
    return ChangeAndRaise([&](std::vector<Element>& items, std::vector<Element>&) {
        if (items.size() >= std::numeric_limits<std::uint32_t>::max()) throw zorvik::rt::out_of_memory_error();
        items.push_back(Traits::copy(item));
        return std::pair(Change::ItemInserted, static_cast<std::uint32_t>(items.size() - 1));
    });
}

HRESULT FolderItems::RemoveAtEnd() {
    return ChangeAndRaise([&](std::vector<Element>& items, std::vector<Element>& released) {
        if (items.empty()) throw zorvik::rt::out_of_bounds_error();
        released.push_back(std::move(items.back()));
        items.pop_back();
        return std::pair(Change::ItemRemoved, static_cast<std::uint32_t>(items.size()));
    });
}

HRESULT FolderItems::Clear() {
    return ChangeAndRaise([&](std::vector<Element>& items, std::vector<Element>& released) {
        released.swap(items);
        return std::pair(Change::Reset, 0u);
    });
}

HRESULT FolderItems::GetMany(std::uint32_t startIndex, std::uint32_t capacity, IArchiveItem** items, std::uint32_t* actual) {
    return boundary([&] {
        check_pointer(actual);
        *actual = 0;
        if (capacity != 0) check_pointer(items);
        std::vector<Element> range;
        {
            std::lock_guard lock(mutex_);
            range = RangeLocked(startIndex, capacity);
        }
        *actual = zorvik::rt::detail::hand_out_all(range, items);
    });
}

HRESULT FolderItems::ReplaceAll(std::uint32_t count, IArchiveItem** items) {
    if (count != 0 && !items) return E_POINTER;
    std::vector<Element> replacement;
    try {
        replacement.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) replacement.push_back(Traits::copy(items[i]));
    } catch (...) {
        return zorvik::rt::to_hresult();
    }
    return ChangeAndRaise([&](std::vector<Element>& current, std::vector<Element>& released) {
        released.swap(current);
        current.swap(replacement);
        return std::pair(Change::Reset, 0u);
    });
}

HRESULT FolderItems::First(IIterator<IArchiveItem*>** first) {
    return boundary([&] {
        check_pointer(first);
        *first =
            zorvik::rt::detach_as<IIterator<IArchiveItem*>>(zorvik::rt::make<zorvik::rt::snapshot_iterator<IArchiveItem*>>(Snapshot()));
    });
}

HRESULT FolderItems::add_VectorChanged(VectorChangedEventHandler<IArchiveItem*>* handler, EventRegistrationToken* token) {
    return boundary([&] {
        check_pointer(handler);
        check_pointer(token);
        std::lock_guard lock(mutex_);
        const std::int64_t value = nextToken_++;
        handlers_.push_back({value, com_ptr<VectorChangedEventHandler<IArchiveItem*>>::copy_from(handler)});
        token->value = value;
        PinOnce();
    });
}

HRESULT FolderItems::remove_VectorChanged(EventRegistrationToken token) {
    return boundary([&] {
        com_ptr<VectorChangedEventHandler<IArchiveItem*>> removed;  // released after the lock
        std::lock_guard lock(mutex_);
        for (auto it = handlers_.begin(); it != handlers_.end(); ++it) {
            if (it->token == token.value) {
                removed = std::move(it->target);
                handlers_.erase(it);
                break;
            }
        }
    });
}

}  // namespace Zorvik::Impl
