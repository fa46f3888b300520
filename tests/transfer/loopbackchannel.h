#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "rtc/zuwebrtc.h"

// An in-process stand-in for the engine's two data-channel calls (loopbackchannel.cpp). Linked pairs
// of peer handles exchange messages through one delivery thread (the "engine thread"), in order,
// optionally late, lost or damaged. One channel exists at a time; the C calls reach it through current().
class LoopbackChannel {
public:
    using Message = std::vector<uint8_t>;
    // Called on the sending thread for every message; returns false to lose it, may change it.
    using Filter = std::function<bool(int fromPc, Message &message)>;
    struct Record {
        int from;
        Message bytes;  // as sent, before the filter
    };
    using Lock = std::lock_guard<std::mutex>;

    LoopbackChannel() {
        LoopbackChannel *expected = nullptr;
        if (!slot().compare_exchange_strong(expected, this)) {
            std::abort();
        }
        thread_ = std::thread([this] { run(); });
    }
    ~LoopbackChannel() {
        push([this] { stopping_ = true; });
        thread_.join();
        slot().store(nullptr);
    }
    static LoopbackChannel *current() { return slot().load(); }

    // Messages sent on a arrive at b and the other way round.
    void link(int a, int b) {
        Lock lock(queueLock_);
        peers_[a] = b;
        peers_[b] = a;
    }
    void setDelay(std::chrono::microseconds oneWay) {
        push([&] { delay_ = oneWay; });
    }
    void setFilter(Filter filter) {
        push([&] { filter_ = std::move(filter); });
    }
    void setRecording(bool on) {
        push([&] { recording_ = on; });
    }
    std::vector<Record> records() const {
        Lock lock(queueLock_);
        return records_;
    }
    std::vector<Message> sentBy(int pc) const {
        std::vector<Message> out;
        for (const Record &record : records()) {
            if (record.from == pc) {
                out.push_back(record.bytes);
            }
        }
        return out;
    }
    bool isRegistered(int pc) const {
        Lock lock(receiverLock_);
        return receivers_.count(pc) != 0;
    }
    // Blocks until every queued message has been delivered (or lost).
    void waitIdle() {
        std::unique_lock<std::mutex> lock(queueLock_);
        queueChanged_.wait(lock, [this] { return queue_.empty() && !delivering_; });
    }
    // Delivers bytes to pc as if its peer had sent them.
    void inject(int toPc, const Message &bytes) {
        push([&] { queue_.push_back({std::chrono::steady_clock::now(), toPc, bytes}); });
    }

    int send(int pc, const uint8_t *data, int length) {
        if (!data || length <= 0) {
            return ZUWEBRTC_EARG;
        }
        if (length > ZUWEBRTC_MAX_MESSAGE) {
            return ZUWEBRTC_ESIZE;
        }
        bool linked = false;
        push([&] {
            auto peer = peers_.find(pc);
            Message message(data, data + length);
            if ((linked = peer != peers_.end()) && recording_) {
                records_.push_back({pc, message});
            }
            if (linked && (!filter_ || filter_(pc, message))) {
                queue_.push_back(
                    {std::chrono::steady_clock::now() + delay_, peer->second, std::move(message)});
            }
        });
        return linked ? ZUWEBRTC_OK : ZUWEBRTC_EHANDLE;
    }
    int registerReceiver(int pc, OnDataFromDataChannelReady callback, uint8_t *buffer, void *userData,
                         int tag) {
        Lock lock(receiverLock_);
        if (!callback && !buffer && !userData && tag == 0) {
            receivers_.erase(pc);
            return ZUWEBRTC_OK;
        }
        if (!callback || !buffer) {
            return ZUWEBRTC_EARG;
        }
        receivers_[pc] = {callback, buffer, userData};
        return ZUWEBRTC_OK;
    }

private:
    struct Pending {
        std::chrono::steady_clock::time_point due;
        int to;
        Message bytes;
    };
    struct Receiver {
        OnDataFromDataChannelReady callback;
        uint8_t *buffer;
        void *userData;
    };

    static std::atomic<LoopbackChannel *> &slot() {
        static std::atomic<LoopbackChannel *> current{nullptr};
        return current;
    }
    // Changes the queue's state under its lock and wakes the delivery thread.
    template <typename F>
    void push(F change) {
        {
            Lock lock(queueLock_);
            change();
        }
        queueChanged_.notify_all();
    }

    void run() {
        std::unique_lock<std::mutex> lock(queueLock_);
        for (;;) {
            queueChanged_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) {
                return;
            }
            if (std::chrono::steady_clock::now() < queue_.front().due) {
                queueChanged_.wait_until(lock, queue_.front().due);
                continue;
            }
            Pending pending = std::move(queue_.front());
            queue_.pop_front();
            delivering_ = true;
            lock.unlock();
            {
                // Held while a callback runs, so that unregistering waits for it to end.
                Lock receiverLock(receiverLock_);
                auto it = receivers_.find(pending.to);
                if (it != receivers_.end()) {
                    const size_t n = std::min<size_t>(pending.bytes.size(), ZUWEBRTC_RECEIVE_BUFFER);
                    std::memcpy(it->second.buffer, pending.bytes.data(), n);
                    it->second.callback(it->second.buffer, static_cast<int>(n), it->second.userData);
                }
            }
            lock.lock();
            delivering_ = false;
            queueChanged_.notify_all();
        }
    }

    mutable std::mutex queueLock_, receiverLock_;
    std::condition_variable queueChanged_;
    std::deque<Pending> queue_;
    bool delivering_ = false, stopping_ = false, recording_ = true;
    std::map<int, int> peers_;
    std::chrono::microseconds delay_{0};
    Filter filter_;
    std::vector<Record> records_;
    std::map<int, Receiver> receivers_;
    std::thread thread_;
};
