#pragma once
// One owner per kind of platform resource: kernel handles, registry keys,
// task-allocator memory and critical sections. A function that fails half-way
// leaves nothing behind. The base of every Windows layer: the device port,
// the registry store and the media filter framework all own their resources
// through these.

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace kv20x {

template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Type value) noexcept : m_value(value) {}
    ~UniqueResource() { reset(); }
    UniqueResource(UniqueResource&& other) noexcept : m_value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    Type get() const noexcept { return m_value; }
    bool valid() const noexcept { return m_value != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    Type release() noexcept { return std::exchange(m_value, Traits::Invalid()); }
    void reset(Type value = Traits::Invalid()) noexcept
    {
        const Type old = std::exchange(m_value, value);
        if (old != Traits::Invalid())
            Traits::Close(old);
    }
    // For out-parameters: releases what is held and hands out the slot.
    Type* put() noexcept
    {
        reset();
        return &m_value;
    }

private:
    Type m_value = Traits::Invalid();
};

struct HandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
struct HKeyTraits {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::RegCloseKey(h); }
};
struct CoTaskMemTraits {
    using Type = void*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { ::CoTaskMemFree(p); }
};

using UniqueHandle = UniqueResource<HandleTraits>;          // events, threads: null when empty
using UniqueFileHandle = UniqueResource<FileHandleTraits>;  // CreateFile: INVALID_HANDLE_VALUE when empty
using UniqueHKey = UniqueResource<HKeyTraits>;
using UniqueCoTaskMem = UniqueResource<CoTaskMemTraits>;

// A critical section that lives exactly as long as its owner.
class CritSec {
public:
    CritSec() noexcept { ::InitializeCriticalSection(&m_section); }
    ~CritSec() { ::DeleteCriticalSection(&m_section); }
    CritSec(const CritSec&) = delete;
    CritSec& operator=(const CritSec&) = delete;

    void Lock() noexcept { ::EnterCriticalSection(&m_section); }
    void Unlock() noexcept { ::LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

class AutoLock {
public:
    explicit AutoLock(CritSec& lock) noexcept : m_lock(lock) { m_lock.Lock(); }
    ~AutoLock() { m_lock.Unlock(); }
    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;

private:
    CritSec& m_lock;
};

}  // namespace kv20x
