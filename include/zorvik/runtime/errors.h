// Platform exceptions and the HRESULT boundary between them.
#pragma once

#include <string>
#include <type_traits>

#include "zorvik/runtime/base.h"

namespace zorvik::rt {

// An exception that carries an HRESULT; the platform's exceptions derive from it.
class hresult_error : public std::exception {
public:
    explicit hresult_error(HRESULT code, std::string message = {}) : code_(code), message_(std::move(message)) {}
    HRESULT code() const noexcept { return code_; }
    const char* what() const noexcept override { return message_.empty() ? "platform error" : message_.c_str(); }

private:
    HRESULT code_;
    std::string message_;
};

#define ZORVIK_RT_ERROR(Name, Code)                                                          \
    struct Name : hresult_error {                                                            \
        explicit Name(std::string message = {}) : hresult_error(Code, std::move(message)) {} \
    }
ZORVIK_RT_ERROR(object_disposed_error, RO_E_CLOSED);
ZORVIK_RT_ERROR(not_implemented_error, E_NOTIMPL);
ZORVIK_RT_ERROR(out_of_memory_error, E_OUTOFMEMORY);
ZORVIK_RT_ERROR(canceled_error, E_ABORT);
ZORVIK_RT_ERROR(invalid_argument_error, E_INVALIDARG);
ZORVIK_RT_ERROR(out_of_bounds_error, E_BOUNDS);
ZORVIK_RT_ERROR(illegal_method_call_error, E_ILLEGAL_METHOD_CALL);
ZORVIK_RT_ERROR(failure_error, E_FAIL);
#undef ZORVIK_RT_ERROR

// Raises the platform exception for a failing HRESULT.
[[noreturn]] ZORVIK_RT_EXPORT void throw_hresult(HRESULT code);

inline void check_hresult(HRESULT code) {
    if (FAILED(code)) throw_hresult(code);
}

inline void check_pointer(const void* pointer) {
    if (!pointer) throw_hresult(E_POINTER);
}

// The HRESULT of the exception being handled; call only inside a catch block.
ZORVIK_RT_EXPORT HRESULT to_hresult() noexcept;

// Runs an ABI member's body and turns whatever it throws into an HRESULT. A body that returns
// an HRESULT answers with it; one that returns nothing answers S_OK.
template <typename Body>
HRESULT boundary(Body&& body) noexcept {
    try {
        if constexpr (std::is_void_v<decltype(body())>) {
            body();
            return S_OK;
        } else {
            return body();
        }
    } catch (...) {
        return to_hresult();
    }
}

}  // namespace zorvik::rt
