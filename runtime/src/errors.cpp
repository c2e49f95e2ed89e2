// The platform exceptions and their HRESULTs, both ways.
#include <new>
#include <stdexcept>

#include "zorvik/runtime/com_ptr.h"

namespace zorvik::rt {

void throw_hresult(HRESULT code) {
    switch (code) {
    case RO_E_CLOSED: throw object_disposed_error();
    case E_NOTIMPL: throw not_implemented_error();
    case E_OUTOFMEMORY: throw out_of_memory_error();
    case E_ABORT: throw canceled_error();
    case E_INVALIDARG: throw invalid_argument_error();
    case E_BOUNDS: throw out_of_bounds_error();
    case E_ILLEGAL_METHOD_CALL: throw illegal_method_call_error();
    case E_FAIL: throw failure_error();
    default: throw hresult_error(code);
    }
}

HRESULT to_hresult() noexcept {
    try {
        throw;
    } catch (const hresult_error& e) {
        return e.code();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::out_of_range&) {
        return E_BOUNDS;
    } catch (const std::invalid_argument&) {
        return E_INVALIDARG;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace zorvik::rt
