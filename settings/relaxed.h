#pragma once
// A settings field that one thread may write while another reads it without a
// lock. Every access is a single relaxed atomic load or store of a naturally
// aligned value, which is what the capture pin relies on: a change made by a
// setter is seen by the frame pump at its next frame, and no reader ever sees
// a torn value.

#include <atomic>

namespace kv20x {

template <typename T>
class Relaxed {
    static_assert(std::atomic<T>::is_always_lock_free, "settings fields must be lock-free words");

public:
    constexpr Relaxed() noexcept : m_value{} {}
    constexpr Relaxed(T value) noexcept : m_value(value) {}
    Relaxed(const Relaxed& other) noexcept : m_value(other.Get()) {}
    Relaxed& operator=(const Relaxed& other) noexcept
    {
        Set(other.Get());
        return *this;
    }
    Relaxed& operator=(T value) noexcept
    {
        Set(value);
        return *this;
    }

    T Get() const noexcept { return m_value.load(std::memory_order_relaxed); }
    void Set(T value) noexcept { m_value.store(value, std::memory_order_relaxed); }
    operator T() const noexcept { return Get(); }

private:
    std::atomic<T> m_value;
};

}  // namespace kv20x
