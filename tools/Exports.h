// Exports: the library's 31 exports in one table, their types taken from the host header, for every program that loads
// it.
//
// TW_EXPORTS lists each export with the names of its parameters. Two views
// are built from it: Exports, a struct of typed function pointers resolved
// from a loaded library, and exportTable(), a description of each export
// that can be called with arguments bound at run time. Both take their
// types from TarnwellDll.h with decltype, so a name list that does not fit
// its export, or a call with wrong arguments, fails to compile. Nothing of
// the library is linked.
#pragma once

#include "LibraryLoader.h"
#include "TarnwellDll.h"

#include <cstddef>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#define TW_OUT_PARAMS "responseHeaders", "responseBody"
// The name list of an export without parameters (a macro argument cannot be empty).
#define TW_NO_PARAMS ::tw::NoParams{}
#define TW_CALL_PARAMS "method", "url", "headersJson", "requestBody", TW_OUT_PARAMS
#define TW_AUTH_CALL_PARAMS "method", "url", "username", "password", "headersJson", "requestBody", TW_OUT_PARAMS

// X(export, parameter names...) for every export, in the host header's order.
#define TW_EXPORTS(X)                                                                                              \
    X(sendAuthEncodedRequestEncodeResponse, "url", "username", "password", "method", "headersJson", "requestBody", \
      "bodyIsBase64", "responseEncoding", "skipCertificateVerification", TW_OUT_PARAMS)                            \
    X(sendEncodedRequestEncodeResponse, "url", "method", "headersJson", "requestBody", "bodyIsBase64",             \
      "responseEncoding", "skipCertificateVerification", TW_OUT_PARAMS)                                            \
    X(sendAuthRequest, "url", "username", "password", "method", "headersJson", "requestBody",                      \
      "skipCertificateVerification", TW_OUT_PARAMS)                                                                \
    X(sendRequest, "url", "method", "headersJson", "requestBody", "skipCertificateVerification", TW_OUT_PARAMS)    \
    X(TwHttpCall, TW_CALL_PARAMS)                                                                                  \
    X(TwHttpCallBase64, TW_CALL_PARAMS)                                                                            \
    X(TwHttpCallBytes, TW_CALL_PARAMS)                                                                             \
    X(TwHttpCallIn64, TW_CALL_PARAMS)                                                                              \
    X(TwHttpCallBase64In64, TW_CALL_PARAMS)                                                                        \
    X(TwHttpCallBytesIn64, TW_CALL_PARAMS)                                                                         \
    X(TwAuthHttpCall, TW_AUTH_CALL_PARAMS)                                                                         \
    X(TwAuthHttpCallBase64, TW_AUTH_CALL_PARAMS)                                                                   \
    X(TwAuthHttpCallBytes, TW_AUTH_CALL_PARAMS)                                                                    \
    X(TwAuthHttpCallIn64, TW_AUTH_CALL_PARAMS)                                                                     \
    X(TwAuthHttpCallBase64In64, TW_AUTH_CALL_PARAMS)                                                               \
    X(TwAuthHttpCallBytesIn64, TW_AUTH_CALL_PARAMS)                                                                \
    X(freemem, "p")                                                                                                \
    X(escapeUrlStyleAllowedCharacters, "text", "allowedCharacters", "allowedCount")                                \
    X(escapeUrlStyle, "text", "style")                                                                             \
    X(TwUrlEncodeJS, "text")                                                                                       \
    X(TwUrlEncodeInter, "text")                                                                                    \
    X(TwUrlEncodeLax, "text")                                                                                      \
    X(TwUrlEncodeVeryLax, "text")                                                                                  \
    X(toQueryStringAllowedCharacters, "jsonText", "allowedCharacters", "allowedCount")                             \
    X(toQueryString, "jsonText", "style")                                                                          \
    X(TwUrlEncodeQueryJS, "jsonText")                                                                              \
    X(TwUrlEncodeQueryInter, "jsonText")                                                                           \
    X(TwUrlEncodeQueryLax, "jsonText")                                                                             \
    X(TwUrlEncodeQueryVeryLax, "jsonText")                                                                         \
    X(TwHttpRequest, "requestJson", TW_OUT_PARAMS)                                                                 \
    X(TwVersion, TW_NO_PARAMS)

namespace tw {

// Every export resolved from a loaded library, each with its own type.
struct Exports {
#define TW_EXPORT_MEMBER(fn, ...) decltype(&::fn) fn = nullptr;
    TW_EXPORTS(TW_EXPORT_MEMBER)
#undef TW_EXPORT_MEMBER

    explicit Exports(const LibraryLoader& library) {
#define TW_EXPORT_RESOLVE(fn, ...) fn = library.function<decltype(::fn)>(#fn);
        TW_EXPORTS(TW_EXPORT_RESOLVE)
#undef TW_EXPORT_RESOLVE
    }
};

// A library loaded by path with every export resolved; throws like
// LibraryLoader when the library or one of its exports is missing.
class Library {
public:
    explicit Library(const std::string& path) : loader_(path), exports(loader_) {}

    // For calls bound at run time: Export::invoke(library.symbol(e.name), slots).
    void* symbol(const char* name) const { return loader_.symbol(name); }

private:
    LibraryLoader loader_;

public:
    const Exports exports;
};

// ------------------------------------------- calls bound at run time

// What a parameter is at the host boundary, taken from the export's type.
enum class Kind { Text, Int, Out, Pointer };

template <typename T>
constexpr Kind kindOf();
template <>
constexpr Kind kindOf<const char*>() {
    return Kind::Text;
}
template <>
constexpr Kind kindOf<int>() {
    return Kind::Int;
}
template <>
constexpr Kind kindOf<char**>() {
    return Kind::Out;
}
template <>
constexpr Kind kindOf<void*>() {
    return Kind::Pointer;
}

struct Param {
    const char* name;
    Kind kind;
};

// One argument as passed: the text (which may be NULL), the number, or the
// slot an out-parameter writes to (NULL instead when outGiven is false).
// Pointer parameters (freemem's) get NULL.
struct Slot {
    const char* text = "";
    int number = 0;
    char* out = nullptr;
    bool outGiven = true;

    template <typename T>
    T pass();
};
template <>
inline const char* Slot::pass<const char*>() {
    return text;
}
template <>
inline int Slot::pass<int>() {
    return number;
}
template <>
inline char** Slot::pass<char**>() {
    return outGiven ? &out : nullptr;
}
template <>
inline void* Slot::pass<void*>() {
    return nullptr;
}

enum class Returns { Status, String, Nothing };

// What a call returned. A returned string belongs to the caller, as do the
// strings left in the out-parameter slots; all go back to freemem.
struct Returned {
    int status = 0;
    char* text = nullptr;
};

template <typename Fn>
struct Signature;

// The calling convention is part of the type (stdcall in the 32-bit Windows
// DLL), so the exports' types match only with TW_CALLCONV written here too.
template <typename R, typename... Ps>
struct Signature<R TW_CALLCONV(Ps...)> {
    static constexpr std::size_t arity = sizeof...(Ps);
    static constexpr Returns returns = std::is_void_v<R>        ? Returns::Nothing
                                       : std::is_same_v<R, int> ? Returns::Status
                                                                : Returns::String;

    static std::vector<Param> params(const std::vector<const char*>& names) {
        const Kind kinds[] = {kindOf<Ps>()...};
        std::vector<Param> result;
        for (std::size_t i = 0; i < arity; ++i) result.push_back({names[i], kinds[i]});
        return result;
    }

    static Returned invoke(void* symbol, std::vector<Slot>& slots) {
        return call(reinterpret_cast<R(TW_CALLCONV*)(Ps...)>(symbol), slots, std::index_sequence_for<Ps...>());
    }

    template <std::size_t... I>
    static Returned call(R(TW_CALLCONV* fn)(Ps...), std::vector<Slot>& slots, std::index_sequence<I...>) {
        Returned returned;
        if constexpr (std::is_void_v<R>) {
            fn(slots[I].template pass<Ps>()...);
        } else if constexpr (std::is_same_v<R, int>) {
            returned.status = fn(slots[I].template pass<Ps>()...);
        } else {
            returned.text = fn(slots[I].template pass<Ps>()...);
        }
        return returned;
    }
};

// The exports are noexcept; that changes nothing about how they are called.
template <typename R, typename... Ps>
struct Signature<R TW_CALLCONV(Ps...) noexcept> : Signature<R TW_CALLCONV(Ps...)> {};

struct Export {
    const char* name;
    std::vector<Param> params;
    Returns returns;
    // Calls the export at `symbol` with one slot per parameter.
    Returned (*invoke)(void* symbol, std::vector<Slot>& slots);
};

struct NoParams {};

template <typename Fn>
Export describe(const char* name, NoParams) {
    static_assert(Signature<Fn>::arity == 0, "the export has parameters");
    return Export{name, {}, Signature<Fn>::returns, &Signature<Fn>::invoke};
}

template <typename Fn, typename... Names>
Export describe(const char* name, Names... names) {
    static_assert(sizeof...(Names) == Signature<Fn>::arity, "one name per parameter");
    return Export{name, Signature<Fn>::params({names...}), Signature<Fn>::returns, &Signature<Fn>::invoke};
}

inline const std::vector<Export>& exportTable() {
#define TW_EXPORT_DESCRIBE(fn, ...) describe<decltype(::fn)>(#fn, __VA_ARGS__),
    static const std::vector<Export> table = {TW_EXPORTS(TW_EXPORT_DESCRIBE)};
#undef TW_EXPORT_DESCRIBE
    return table;
}

inline const Export* findExport(const std::string& name) {
    for (const auto& entry : exportTable()) {
        if (name == entry.name) return &entry;
    }
    return nullptr;
}

}  // namespace tw
