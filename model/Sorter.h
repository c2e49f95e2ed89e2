// The Sorter runtime class: a stable sort of a vector of items in the caller's order.
#pragma once

#include "base/ComponentObject.h"
#include "zorvik/Items.h"

namespace Zorvik {

class Sorter final : public Impl::ComponentObject<Sorter, ISorter> {
public:
    static constexpr const char* runtime_class_name = "Zorvik.Sorter";
    static constexpr const char* FactoryName = "Zorvik.__SorterActivationFactory";
    static zorvik::rt::com_ptr<Sorter> Create() { return zorvik::rt::make<Sorter>(); }

    // Reads and writes only through the vector's GetAt and SetAt, so an observable vector
    // reports each element written; a comparer failure ends the sort with that failure.
    HRESULT Sort(IVector<IArchiveItem*>* items, IArchiveItemComparer* comparer) override;
};

}  // namespace Zorvik
