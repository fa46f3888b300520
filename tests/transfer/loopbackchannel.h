#pragma once

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "rtc/zuwebrtc.h"

// In-process data-channel calls (loopbackchannel.cpp): linked handles' messages, late, lost or changed.
class LoopbackChannel {
public:
    using Message = std::vector<uint8_t>;
    // Runs for every message sent; returns false to lose it, may change it.
    using Filter = std::function<bool(int fromPc, Message &message)>;

    LoopbackChannel() { current_ = this; }
    ~LoopbackChannel() {
        change([this] { stopping_ = true; });
        thread_.join();
        current_ = nullptr;
    }
    static LoopbackChannel *current() { return current_; }

    void link(int a, int b) {
        change([&] {
            peers_[a] = b;
            peers_[b] = a;
        });
    }
    void setDelay(std::chrono::microseconds oneWay) {
        change([&] { delay_ = oneWay; });
    }
    void setFilter(Filter filter) {
        change([&] { filter_ = std::move(filter); });
    }
    void setRecording(bool on) {
        change([&] { recording_ = on; });
    }
    // Every message as sent (before the filter), after its sender's handle.
    std::vector<std::pair<int, Message>> records() const {
        std::lock_guard<std::mutex> lock(queueLock_);
        return records_;
    }
    std::vector<Message> sentBy(int pc) const {
        std::vector<Message> out;
        for (const auto &record : records()) {
            if (record.first == pc) {
                out.push_back(record.second);
            }
        }
        return out;
    }
    bool isRegistered(int pc) const {
        std::lock_guard<std::mutex> lock(receiverLock_);
        return receivers_.count(pc) != 0;
    }
    // Blocks until every queued message has been delivered or lost.
    void waitIdle() {
        std::unique_lock<std::mutex> lock(queueLock_);
        changed_.wait(lock, [this] { return queue_.empty(); });
    }
    int send(int pc, const uint8_t *data, int length) {
        int result;
        change([&] {
            auto peer = peers_.find(pc);
            Message message(data, data + length);
            result = peer == peers_.end() ? ZUWEBRTC_EHANDLE : ZUWEBRTC_OK;
            if (result == ZUWEBRTC_OK && recording_) {
                records_.emplace_back(pc, message);
            }
            if (result == ZUWEBRTC_OK && (!filter_ || filter_(pc, message))) {
                queue_.emplace_back(peer->second, std::move(message));
            }
        });
        return result;
    }
    int registerReceiver(int pc, OnDataFromDataChannelReady callback, uint8_t *buffer, void *userData, int) {
        std::lock_guard<std::mutex> lock(receiverLock_);
        if (callback && buffer) {
            receivers_[pc] = [=](const Message &bytes) {
                std::memcpy(buffer, bytes.data(), bytes.size());
                callback(buffer, int(bytes.size()), userData);
            };
        } else {
            receivers_.erase(pc);
        }
        return ZUWEBRTC_OK;
    }

private:
    // Changes the queue's state under its lock and wakes the delivery thread.
    template <typename F>
    void change(F f) {
        {
            std::lock_guard<std::mutex> lock(queueLock_);
            f();
        }
        changed_.notify_all();
    }
    // The front message stays queued until it has been delivered, so that waitIdle() waits for it.
    void run() {
        std::unique_lock<std::mutex> lock(queueLock_);
        while (true) {
            changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) {
                return;
            }
            const std::pair<int, Message> &next = queue_.front();  // stays in place while others are added
            const std::chrono::microseconds delay = delay_;
            lock.unlock();
            std::this_thread::sleep_for(delay);  // one message at a time, as stop-and-wait traffic goes
            {
                // Held while a callback runs, so that unregistering waits for it to end.
                std::lock_guard<std::mutex> receiverLock(receiverLock_);
                auto receiver = receivers_.find(next.first);
                if (receiver != receivers_.end()) {
                    receiver->second(next.second);
                }
            }
            lock.lock();
            queue_.pop_front();
            changed_.notify_all();
        }
    }

    static inline LoopbackChannel *current_ = nullptr;
    mutable std::mutex queueLock_, receiverLock_;
    std::condition_variable changed_;
    std::deque<std::pair<int, Message>> queue_;
    bool stopping_ = false, recording_ = true;
    std::map<int, int> peers_;
    std::chrono::microseconds delay_{0};
    Filter filter_;
    std::vector<std::pair<int, Message>> records_;
    std::map<int, std::function<void(const Message &)>> receivers_;
    std::thread thread_{[this] { run(); }};
};
