// Small owners for registry keys, kernel handles, find handles and C streams,
// so that every path out of a function closes what it opened. Ownership that
// must outlive a call is handed out with release(), in plain sight.
#pragma once

#include <windows.h>

#include <cstdio>

namespace qri {

template <class Traits>
class Unique {
public:
    using Type = typename Traits::Type;

    Unique() = default;
    explicit Unique(Type value) : value_(value) {}
    ~Unique() { reset(); }
    Unique(const Unique &) = delete;
    Unique &operator=(const Unique &) = delete;

    Type get() const { return value_; }
    explicit operator bool() const { return value_ != Traits::Invalid(); }

    // For out-parameters: closes the current value first.
    Type *put()
    {
        reset();
        return &value_;
    }

    Type release()
    {
        Type value = value_;
        value_ = Traits::Invalid();
        return value;
    }

    void reset(Type value = Traits::Invalid())
    {
        if (value_ != Traits::Invalid())
            Traits::Close(value_);
        value_ = value;
    }

private:
    Type value_ = Traits::Invalid();
};

// A close that fails leaves nothing to undo: the value is forgotten either
// way. Script streams are closed and checked by the generator itself.
struct HkeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type key) { RegCloseKey(key); }
};

struct HandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type handle) { CloseHandle(handle); }
};

struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type handle) { FindClose(handle); }
};

struct StreamTraits {
    using Type = FILE *;
    static Type Invalid() { return nullptr; }
    static void Close(Type stream) { fclose(stream); }
};

using UniqueHkey = Unique<HkeyTraits>;
using UniqueHandle = Unique<HandleTraits>;
using UniqueFindHandle = Unique<FindHandleTraits>;
using UniqueStream = Unique<StreamTraits>;

} // namespace qri
