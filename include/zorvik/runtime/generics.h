// Names and IIDs of generic interface instantiations. A generic interface's IID is the
// name-based GUID of its full name with its arguments, for example
// "Windows.Foundation.IAsyncOperation`1<Boolean>".
#pragma once

#include <string>
#include <type_traits>

#include "zorvik/runtime/base.h"

namespace zorvik::rt {

template <typename T>
struct type_name;  // ABI types that may stand as generic arguments

#define ZORVIK_RT_TYPE_NAME(Type, Name)           \
    template <>                                   \
    struct type_name<Type> {                      \
        static std::string get() { return Name; } \
    }
ZORVIK_RT_TYPE_NAME(bool, "Boolean");
ZORVIK_RT_TYPE_NAME(std::uint8_t, "UInt8");
ZORVIK_RT_TYPE_NAME(std::int32_t, "Int32");
ZORVIK_RT_TYPE_NAME(std::uint32_t, "UInt32");
ZORVIK_RT_TYPE_NAME(std::int64_t, "Int64");
ZORVIK_RT_TYPE_NAME(std::uint64_t, "UInt64");
ZORVIK_RT_TYPE_NAME(double, "Double");
ZORVIK_RT_TYPE_NAME(HSTRING, "String");
#undef ZORVIK_RT_TYPE_NAME

// An interface pointer is named after its interface: a fixed `name`, or a generic's
// `type_name()`.
template <typename I>
struct type_name<I*> {
    static std::string get() {
        if constexpr (requires { I::type_name(); })
            return I::type_name();
        else
            return I::name;
    }
};

template <typename T>
std::string name_of() {
    return type_name<T>::get();
}

// "Base`1<Arg>" and the GUID of that name.
template <typename T>
std::string generic_name(const char* base) {
    return std::string(base) + "`1<" + name_of<T>() + ">";
}

}  // namespace zorvik::rt
