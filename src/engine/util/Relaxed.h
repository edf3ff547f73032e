#pragma once
// A value shared between threads whose readers only need the latest whole
// value, never an ordering with other data: flags, counters, parameters and
// spectrum levels. Loads and stores are relaxed atomics, which compile to
// plain moves on x86-64, so the rendering thread pays nothing for them.

#include <atomic>

template <typename T>
class Relaxed {
public:
    constexpr Relaxed(T v = T()) : v_(v) {}
    Relaxed(const Relaxed&) = delete;
    Relaxed& operator=(const Relaxed&) = delete;

    T load() const { return v_.load(std::memory_order_relaxed); }
    void store(T v) { v_.store(v, std::memory_order_relaxed); }
    operator T() const { return load(); }
    Relaxed& operator=(T v)
    {
        store(v);
        return *this;
    }

private:
    std::atomic<T> v_;
    static_assert(std::atomic<T>::is_always_lock_free);
};
