#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "zorvik/runtime/collections.h"
#include "zorvik/runtime/delegate.h"

using namespace zorvik::rt;
using namespace ABI::Windows::Foundation::Collections;
using ABI::Windows::Foundation::EventRegistrationToken;
using ABI::Windows::Foundation::IClosable;

namespace {

std::atomic<int> g_live_items{0};

struct INamed : IInspectable {
    static constexpr GUID iid = guid_from_name("Test.INamed");
    virtual int Id() = 0;
};

// An element object with two inspectable interfaces, so that its IInspectable pointers differ.
struct Item : implements<Item, IClosable, INamed> {
    explicit Item(int id) : id_(id) { ++g_live_items; }
    ~Item() override { --g_live_items; }
    HRESULT Close() override { return S_OK; }
    int Id() override { return id_; }
    int id_;
};

std::uint32_t ref_count(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

IInspectable* as_inspectable(Item* item) { return static_cast<IClosable*>(item); }

struct Event {
    CollectionChange change;
    std::uint32_t index;
    std::uint32_t size_seen;  // the sender's size inside the handler
    bool operator==(const Event&) const = default;
};

// Records every change; reads the sender back, which would deadlock if raised under its lock.
template <typename T>
struct Recorder : implements<Recorder<T>, VectorChangedEventHandler<T>> {
    HRESULT Invoke(IObservableVector<T>* sender, IVectorChangedEventArgs* args) override {
        Event event{};
        args->get_CollectionChange(&event.change);
        args->get_Index(&event.index);
        auto vector = com_ptr<IObservableVector<T>>::copy_from(sender).template as<IVector<T>>();
        vector->get_Size(&event.size_seen);
        events.push_back(event);
        return result;
    }
    std::vector<Event> events;
    HRESULT result = S_OK;
};

template <typename T>
EventRegistrationToken subscribe(IObservableVector<T>* vector, com_ptr<Recorder<T>> recorder) {
    EventRegistrationToken token{};
    EXPECT_EQ(vector->add_VectorChanged(recorder.get(), &token), S_OK);
    return token;
}

std::vector<int> ints_of(IVector<std::int32_t>* vector) {
    std::vector<int> result;
    for (std::int32_t value : to_std_vector(vector)) result.push_back(value);
    return result;
}

// ---- change events ------------------------------------------------------------------------

TEST(ObservableVectorEvents, OneEventPerChangeWithKindAndIndex) {
    auto observable = make_observable_vector<std::int32_t>({10, 20});
    auto vector = observable.as<IVector<std::int32_t>>();
    auto recorder = make<Recorder<std::int32_t>>();
    subscribe(observable.get(), recorder);

    ASSERT_EQ(vector->SetAt(1, 21), S_OK);
    ASSERT_EQ(vector->Append(30), S_OK);
    ASSERT_EQ(vector->InsertAt(0, 5), S_OK);
    ASSERT_EQ(vector->RemoveAt(1), S_OK);
    EXPECT_EQ(ints_of(vector.get()), (std::vector<int>{5, 21, 30}));
    ASSERT_EQ(vector->RemoveAtEnd(), S_OK);
    std::int32_t replacement[] = {1, 2, 3};
    ASSERT_EQ(vector->ReplaceAll(3, replacement), S_OK);
    ASSERT_EQ(vector->Clear(), S_OK);

    using enum CollectionChange;
    const std::vector<Event> expected = {
        {ItemChanged, 1, 2}, {ItemInserted, 2, 3}, {ItemInserted, 0, 4}, {ItemRemoved, 1, 3},
        {ItemRemoved, 2, 2}, {Reset, 0, 3},        {Reset, 0, 0},
    };
    EXPECT_EQ(recorder->events, expected);

    // Failed changes and reads raise nothing.
    recorder->events.clear();
    EXPECT_EQ(vector->RemoveAtEnd(), E_BOUNDS);
    EXPECT_EQ(vector->SetAt(0, 1), E_BOUNDS);
    std::uint32_t size = 0;
    vector->get_Size(&size);
    EXPECT_TRUE(recorder->events.empty());
}

TEST(ObservableVectorEvents, HandlersRunInOrderAndStopAfterRemoval) {
    auto observable = make_observable_vector<std::int32_t>();
    auto vector = observable.as<IVector<std::int32_t>>();
    std::vector<int> calls;
    auto make_handler = [&](int id) {
        return make_delegate<VectorChangedEventHandler<std::int32_t>>(
            [&calls, id](IObservableVector<std::int32_t>*, IVectorChangedEventArgs*) { calls.push_back(id); });
    };
    auto first = make_handler(1), second = make_handler(2), third = make_handler(3);
    EventRegistrationToken tokens[3]{};
    ASSERT_EQ(observable->add_VectorChanged(first.get(), &tokens[0]), S_OK);
    ASSERT_EQ(observable->add_VectorChanged(second.get(), &tokens[1]), S_OK);
    ASSERT_EQ(observable->add_VectorChanged(third.get(), &tokens[2]), S_OK);
    EXPECT_NE(tokens[0].value, tokens[1].value);

    vector->Append(1);
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 3}));

    calls.clear();
    ASSERT_EQ(observable->remove_VectorChanged(tokens[1]), S_OK);
    EXPECT_EQ(observable->remove_VectorChanged(tokens[1]), S_OK);  // unknown tokens are ignored
    vector->Append(2);
    EXPECT_EQ(calls, (std::vector<int>{1, 3}));
}

TEST(ObservableVectorEvents, FailingHandlerNeitherFailsTheChangeNorSilencesOthers) {
    auto observable = make_observable_vector<std::int32_t>();
    auto failing = make<Recorder<std::int32_t>>();
    failing->result = E_FAIL;
    auto healthy = make<Recorder<std::int32_t>>();
    subscribe(observable.get(), failing);
    subscribe(observable.get(), healthy);
    EXPECT_EQ(observable.as<IVector<std::int32_t>>()->Append(7), S_OK);
    EXPECT_EQ(healthy->events.size(), 1u);
}

TEST(ObservableVectorEvents, VectorReleasesHandlersWhenRemovedOrDestroyed) {
    auto recorder = make<Recorder<std::int32_t>>();
    {
        auto observable = make_observable_vector<std::int32_t>();
        const auto token = subscribe(observable.get(), recorder);
        EXPECT_EQ(ref_count(recorder.get()), 2u);
        observable->remove_VectorChanged(token);
        EXPECT_EQ(ref_count(recorder.get()), 1u);
        subscribe(observable.get(), recorder);
    }
    EXPECT_EQ(ref_count(recorder.get()), 1u);
}

// ---- element ownership ----------------------------------------------------------------------

TEST(ObservableVectorElements, InterfaceElementsAreOwnedAndReleased) {
    g_live_items = 0;
    {
        auto vector = make_vector<IInspectable*>();
        {
            auto a = make<Item>(1), b = make<Item>(2), c = make<Item>(3);
            ASSERT_EQ(vector->Append(as_inspectable(a.get())), S_OK);
            ASSERT_EQ(vector->Append(as_inspectable(b.get())), S_OK);
            ASSERT_EQ(vector->Append(as_inspectable(c.get())), S_OK);
            EXPECT_EQ(ref_count(as_inspectable(a.get())), 2u);  // the caller's and the vector's

            com_ptr<IInspectable> got;
            ASSERT_EQ(vector->GetAt(0, got.put()), S_OK);
            EXPECT_EQ(ref_count(as_inspectable(a.get())), 3u);  // handed out AddRef'd

            IInspectable* many[3]{};
            std::uint32_t actual = 0;
            ASSERT_EQ(vector->GetMany(0, 3, many, &actual), S_OK);
            ASSERT_EQ(actual, 3u);
            EXPECT_EQ(ref_count(as_inspectable(c.get())), 3u);
            for (auto* item : many) item->Release();
        }
        EXPECT_EQ(g_live_items, 3);

        ASSERT_EQ(vector->RemoveAt(0), S_OK);
        EXPECT_EQ(g_live_items, 2);
        auto replacement = make<Item>(4);
        ASSERT_EQ(vector->SetAt(0, as_inspectable(replacement.get())), S_OK);
        EXPECT_EQ(g_live_items, 2);  // #2 released for #4
        replacement = nullptr;
        ASSERT_EQ(vector->RemoveAtEnd(), S_OK);
        EXPECT_EQ(g_live_items, 1);
        ASSERT_EQ(vector->Clear(), S_OK);
        EXPECT_EQ(g_live_items, 0);

        auto kept = make<Item>(5);
        vector->Append(as_inspectable(kept.get()));
        kept = nullptr;
        EXPECT_EQ(g_live_items, 1);
        auto six = make<Item>(6);
        IInspectable* fresh[] = {as_inspectable(six.get())};
        ASSERT_EQ(vector->ReplaceAll(1, fresh), S_OK);
        EXPECT_EQ(g_live_items, 1);
        EXPECT_EQ(ref_count(as_inspectable(six.get())), 2u);
    }
    EXPECT_EQ(g_live_items, 0);
}

TEST(ObservableVectorElements, NullInterfaceElementsAreAllowed) {
    auto vector = make_vector<IInspectable*>();
    ASSERT_EQ(vector->Append(nullptr), S_OK);
    com_ptr<IInspectable> got;
    ASSERT_EQ(vector->GetAt(0, got.put()), S_OK);
    EXPECT_FALSE(got);
    std::uint32_t index = 9;
    bool found = false;
    ASSERT_EQ(vector->IndexOf(nullptr, &index, &found), S_OK);
    EXPECT_TRUE(found);
    EXPECT_EQ(index, 0u);
}

TEST(ObservableVectorElements, StringsRoundTripAndCompareByText) {
    auto vector = make_vector<HSTRING>({L"a.txt", L""});
    const hstring name = L"b/\u65e5\u672c.bin";
    ASSERT_EQ(vector->Append(name.get()), S_OK);

    hstring got;
    ASSERT_EQ(vector->GetAt(2, got.put()), S_OK);
    EXPECT_EQ(got, name.view());
    ASSERT_EQ(vector->GetAt(1, got.put()), S_OK);
    EXPECT_TRUE(got.empty());

    // A separately created string with the same text is found.
    const hstring probe = std::wstring(L"b/\u65e5\u672c.bin");
    std::uint32_t index = 0;
    bool found = false;
    ASSERT_EQ(vector->IndexOf(probe.get(), &index, &found), S_OK);
    EXPECT_TRUE(found);
    EXPECT_EQ(index, 2u);
    ASSERT_EQ(vector->IndexOf(nullptr, &index, &found), S_OK);
    EXPECT_TRUE(found);
    EXPECT_EQ(index, 1u);

    std::vector<std::wstring> texts;
    for (const hstring& text : to_std_vector(vector.get())) texts.emplace_back(text.view());
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"a.txt", L"", L"b/\u65e5\u672c.bin"}));
}

TEST(ObservableVectorElements, BooleansWork) {
    auto vector = make_vector<bool>({true, false});
    ASSERT_EQ(vector->SetAt(1, true), S_OK);
    bool values[2]{};
    std::uint32_t actual = 0;
    ASSERT_EQ(vector->GetMany(0, 2, values, &actual), S_OK);
    EXPECT_TRUE(values[0] && values[1]);
}

// ---- reads -----------------------------------------------------------------------------------

TEST(ObservableVectorReads, BoundsAndNullOutputsAreReported) {
    auto vector = make_vector<std::int32_t>({1, 2});
    std::int32_t value = 0;
    EXPECT_EQ(vector->GetAt(2, &value), E_BOUNDS);
    EXPECT_EQ(vector->SetAt(2, 0), E_BOUNDS);
    EXPECT_EQ(vector->RemoveAt(2), E_BOUNDS);
    EXPECT_EQ(vector->InsertAt(3, 0), E_BOUNDS);
    EXPECT_EQ(vector->InsertAt(2, 3), S_OK);  // inserting at the end is appending
    EXPECT_EQ(vector->GetAt(0, nullptr), E_POINTER);
    EXPECT_EQ(vector->ReplaceAll(1, nullptr), E_POINTER);
    EXPECT_EQ(vector->ReplaceAll(0, nullptr), S_OK);
    EXPECT_EQ(vector->RemoveAtEnd(), E_BOUNDS);
    EXPECT_EQ(vector->RemoveAt(0), E_BOUNDS);

    auto strings = make_vector<HSTRING>();
    HSTRING text = reinterpret_cast<HSTRING>(1);
    EXPECT_EQ(strings->GetAt(0, &text), E_BOUNDS);
    EXPECT_EQ(text, nullptr);  // a failed getter leaves nothing to free
}

TEST(ObservableVectorReads, GetManyCopiesWhatFits) {
    auto vector = make_vector<std::int32_t>({0, 1, 2, 3, 4});
    std::int32_t items[8]{};
    std::uint32_t actual = 99;
    ASSERT_EQ(vector->GetMany(3, 8, items, &actual), S_OK);
    EXPECT_EQ(actual, 2u);
    EXPECT_EQ(items[0], 3);
    EXPECT_EQ(items[1], 4);
    ASSERT_EQ(vector->GetMany(1, 2, items, &actual), S_OK);
    EXPECT_EQ(actual, 2u);
    EXPECT_EQ(items[1], 2);
    ASSERT_EQ(vector->GetMany(5, 8, items, &actual), S_OK);
    EXPECT_EQ(actual, 0u);
    EXPECT_EQ(vector->GetMany(6, 8, items, &actual), E_BOUNDS);
    EXPECT_EQ(vector->GetMany(0, 0, nullptr, &actual), S_OK);
    EXPECT_EQ(actual, 0u);
}

TEST(ObservableVectorReads, IndexOfFindsFirstMatchAndUsesObjectIdentity) {
    auto numbers = make_vector<std::int32_t>({4, 7, 7});
    std::uint32_t index = 99;
    bool found = false;
    ASSERT_EQ(numbers->IndexOf(7, &index, &found), S_OK);
    EXPECT_TRUE(found);
    EXPECT_EQ(index, 1u);
    ASSERT_EQ(numbers->IndexOf(5, &index, &found), S_OK);
    EXPECT_FALSE(found);
    EXPECT_EQ(index, 0u);

    // Stored through one interface, searched through another of the same object.
    auto item = make<Item>(1), other = make<Item>(2);
    auto objects = make_vector<IInspectable*>();
    objects->Append(as_inspectable(other.get()));
    objects->Append(as_inspectable(item.get()));
    IInspectable* through_named = static_cast<INamed*>(item.get());
    ASSERT_NE(through_named, as_inspectable(item.get()));
    ASSERT_EQ(objects->IndexOf(through_named, &index, &found), S_OK);
    EXPECT_TRUE(found);
    EXPECT_EQ(index, 1u);
}

TEST(ObservableVectorReads, IteratorWalksAndGetManyAdvances) {
    auto vector = make_vector<std::int32_t>({1, 2, 3, 4, 5});
    com_ptr<IIterator<std::int32_t>> it;
    ASSERT_EQ(vector.as<IIterable<std::int32_t>>()->First(it.put()), S_OK);
    std::int32_t current = 0;
    bool has = false;
    ASSERT_EQ(it->get_HasCurrent(&has), S_OK);
    EXPECT_TRUE(has);
    ASSERT_EQ(it->get_Current(&current), S_OK);
    EXPECT_EQ(current, 1);
    ASSERT_EQ(it->MoveNext(&has), S_OK);
    EXPECT_TRUE(has);

    std::int32_t items[3]{};
    std::uint32_t actual = 0;
    ASSERT_EQ(it->GetMany(3, items, &actual), S_OK);
    EXPECT_EQ(actual, 3u);
    EXPECT_EQ(items[2], 4);
    ASSERT_EQ(it->get_Current(&current), S_OK);
    EXPECT_EQ(current, 5);
    ASSERT_EQ(it->MoveNext(&has), S_OK);
    EXPECT_FALSE(has);
    EXPECT_EQ(it->get_Current(&current), E_BOUNDS);
    ASSERT_EQ(it->MoveNext(&has), S_OK);  // staying past the end is harmless
    EXPECT_FALSE(has);
    ASSERT_EQ(it->GetMany(3, items, &actual), S_OK);
    EXPECT_EQ(actual, 0u);

    std::vector<int> walked;
    for (std::int32_t value : iterate(vector.get())) walked.push_back(value);
    EXPECT_EQ(walked, (std::vector<int>{1, 2, 3, 4, 5}));
    for (std::int32_t value : iterate(make_vector<std::int32_t>().get())) walked.push_back(value);
    EXPECT_EQ(walked.size(), 5u);
}

TEST(ObservableVectorReads, ViewsAndIteratorsAreSnapshots) {
    auto vector = make_vector<std::int32_t>({1, 2, 3});
    com_ptr<IVectorView<std::int32_t>> view;
    ASSERT_EQ(vector->GetView(view.put()), S_OK);
    com_ptr<IIterator<std::int32_t>> it;
    ASSERT_EQ(vector.as<IIterable<std::int32_t>>()->First(it.put()), S_OK);

    vector->SetAt(0, 100);
    vector->RemoveAtEnd();
    vector->Append(7);
    vector->Append(8);

    EXPECT_EQ(to_std_vector(view.get()), (std::vector<std::int32_t>{1, 2, 3}));
    std::uint32_t size = 0;
    view->get_Size(&size);
    EXPECT_EQ(size, 3u);
    std::int32_t value = 0;
    EXPECT_EQ(view->GetAt(3, &value), E_BOUNDS);
    std::uint32_t index = 0;
    bool found = true;
    view->IndexOf(100, &index, &found);
    EXPECT_FALSE(found);

    std::vector<std::int32_t> walked;
    for (std::int32_t item : iterate(view.get())) walked.push_back(item);
    EXPECT_EQ(walked, (std::vector<std::int32_t>{1, 2, 3}));
    std::int32_t items[8]{};
    std::uint32_t actual = 0;
    ASSERT_EQ(it->GetMany(8, items, &actual), S_OK);
    EXPECT_EQ(actual, 3u);
    EXPECT_EQ(items[0], 1);
    EXPECT_EQ(ints_of(vector.get()), (std::vector<int>{100, 2, 7, 8}));
}

TEST(ObservableVectorReads, ViewKeepsInterfaceElementsAlive) {
    g_live_items = 0;
    com_ptr<IVectorView<IInspectable*>> view;
    {
        auto vector = make_vector<IInspectable*>();
        vector->Append(as_inspectable(make<Item>(1).get()));
        vector->GetView(view.put());
        vector->Clear();
        EXPECT_EQ(g_live_items, 1);
    }
    const auto items = to_std_vector(view.get());
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].as<INamed>()->Id(), 1);
    view = nullptr;
    EXPECT_EQ(g_live_items, 1);  // `items` still holds it
}

// ---- identity --------------------------------------------------------------------------------

TEST(ObservableVectorIdentity, GenericIidsAreDistinctAndStable) {
    EXPECT_FALSE(IVector<IInspectable*>::iid == IVector<HSTRING>::iid);
    EXPECT_FALSE(IVector<HSTRING>::iid == IVectorView<HSTRING>::iid);
    EXPECT_EQ(IVector<HSTRING>::type_name(), "Windows.Foundation.Collections.IVector`1<String>");
    EXPECT_EQ(IVector<IInspectable*>::type_name(), "Windows.Foundation.Collections.IVector`1<Object>");
    // Pinned: a change here breaks every binary that was built against the old value.
    constexpr GUID vector_of_string{0x33EBA0E4, 0x7739, 0x551F, {0x9D, 0x77, 0x13, 0x3E, 0x76, 0x89, 0x3A, 0xE3}};
    EXPECT_EQ(IVector<HSTRING>::iid, vector_of_string);

    auto vector = make_vector<HSTRING>();
    EXPECT_TRUE(vector.try_as<IObservableVector<HSTRING>>());
    EXPECT_TRUE(vector.try_as<IIterable<HSTRING>>());
    EXPECT_FALSE(vector.try_as<IVector<IInspectable*>>());
    EXPECT_FALSE(vector.try_as<IVectorView<HSTRING>>());
    hstring name;
    ASSERT_EQ(vector.as<IInspectable>()->GetRuntimeClassName(name.put()), S_OK);
    EXPECT_EQ(name, L"Zorvik.Runtime.ObservableVector");
}

// ---- threads ---------------------------------------------------------------------------------

// Readers see a consistent vector while a writer builds and trims it: every element equals its
// index, whatever the size at the moment.
TEST(ObservableVectorThreads, ReadersRunBesideAWriter) {
    auto vector = make_vector<IInspectable*>();
    auto observable = vector.as<IObservableVector<IInspectable*>>();
    std::atomic<int> events{0};
    auto counter = make_delegate<VectorChangedEventHandler<IInspectable*>>(
        [&](IObservableVector<IInspectable*>*, IVectorChangedEventArgs*) { ++events; });
    EventRegistrationToken token{};
    observable->add_VectorChanged(counter.get(), &token);

    constexpr int rounds = 250 * 8;  // whole batches: every eighth append trims the vector back to empty
    std::atomic<bool> done{false};
    std::atomic<int> mismatches{0};
    auto check = [&](const std::vector<com_ptr<IInspectable>>& items) {
        for (std::size_t i = 0; i < items.size(); ++i)
            if (items[i].as<INamed>()->Id() != static_cast<int>(i)) ++mismatches;
    };
    auto reader = [&] {
        while (!done) {
            check(to_std_vector(vector.get()));
            std::vector<com_ptr<IInspectable>> walked;
            for (auto item : iterate(vector.get())) walked.push_back(item);
            check(walked);
            com_ptr<IVectorView<IInspectable*>> view;
            if (FAILED(vector->GetView(view.put()))) ++mismatches;
            check(to_std_vector(view.get()));
            com_ptr<IInspectable> first;
            if (vector->GetAt(0, first.put()) == S_OK && first.as<INamed>()->Id() != 0) ++mismatches;
        }
    };
    std::thread readers[] = {std::thread(reader), std::thread(reader)};
    for (int round = 0; round < rounds; ++round) {
        vector->Append(as_inspectable(make<Item>(round % 8).get()));
        if (round % 8 == 7)
            for (int i = 0; i < 8; ++i) vector->RemoveAtEnd();
    }
    done = true;
    for (auto& thread : readers) thread.join();
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(events, rounds * 2);
    observable->remove_VectorChanged(token);
}

}  // namespace
