// A bounded first-in first-out queue between two pipeline threads. Close()
// wakes both sides: a closed queue refuses pushes and drains, then pops fail.
// It is bounded in items and, with a cost function, in bytes: big frames
// wait instead of piling up (one item always fits, so nothing stalls).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

template <typename T>
class FrameQueue {
public:
    explicit FrameQueue(std::size_t capacity, std::size_t maxBytes = SIZE_MAX,
                        std::function<std::size_t(const T &)> cost = {})
        : capacity_(capacity), maxBytes_(maxBytes), cost_(std::move(cost)) {}

    // False when the queue was closed (the consumer gave up).
    bool Push(T item) {
        const std::size_t c = cost_ ? cost_(item) : 0;
        std::unique_lock lock(mutex_);
        notFull_.wait(
            lock, [&] { return closed_ || items_.empty() || (items_.size() < capacity_ && bytes_ + c <= maxBytes_); });
        if (closed_) return false;
        items_.push_back(Entry{std::move(item), c});
        bytes_ += c;
        notEmpty_.notify_one();
        return true;
    }

    // False when the queue is closed and drained.
    bool Pop(T &item) {
        std::unique_lock lock(mutex_);
        notEmpty_.wait(lock, [&] { return closed_ || !items_.empty(); });
        if (items_.empty()) return false;
        item = std::move(items_.front().item);
        bytes_ -= items_.front().cost;
        items_.pop_front();
        notFull_.notify_all();
        return true;
    }

    void Close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        notEmpty_.notify_all();
        notFull_.notify_all();
    }

    // Closes and throws away what is queued (when the render stops early).
    void Abort() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        items_.clear();
        bytes_ = 0;
        notEmpty_.notify_all();
        notFull_.notify_all();
    }

private:
    struct Entry {
        T item;
        std::size_t cost;
    };
    std::size_t capacity_, maxBytes_;
    std::function<std::size_t(const T &)> cost_;
    std::size_t bytes_ = 0;
    std::mutex mutex_;
    std::condition_variable notEmpty_, notFull_;
    std::deque<Entry> items_;
    bool closed_ = false;
};
