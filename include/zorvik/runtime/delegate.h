// make_delegate<Handler>(callable): an event or completion handler object from a lambda.
#pragma once

#include <utility>

#include "zorvik/runtime/implements.h"

namespace zorvik::rt {

namespace detail {
template <typename Handler, typename Callable, typename Invoke>
class delegate;

template <typename Handler, typename Callable, typename... Args>
class delegate<Handler, Callable, HRESULT (Handler::*)(Args...)> final
    : public implements<delegate<Handler, Callable, HRESULT (Handler::*)(Args...)>, Handler> {
public:
    explicit delegate(Callable callable) : callable_(std::move(callable)) {}
    HRESULT Invoke(Args... args) override {
        return boundary([&] { callable_(args...); });
    }

private:
    Callable callable_;
};
}  // namespace detail

template <typename Handler, typename Callable>
com_ptr<Handler> make_delegate(Callable&& callable) {
    using type = detail::delegate<Handler, std::decay_t<Callable>, decltype(&Handler::Invoke)>;
    return make<type>(std::forward<Callable>(callable));
}

}  // namespace zorvik::rt
