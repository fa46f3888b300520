#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "rtc/zuwebrtc.h"

// An in-process stand-in for the engine's two data-channel calls. Linked pairs of peer handles
// exchange messages through one delivery thread (the "engine thread"), in order, optionally late,
// lost or damaged. One channel exists at a time; the C calls reach it through current().
class LoopbackChannel {
public:
    using Message = std::vector<uint8_t>;
    // Called on the sending thread for every message; returns false to lose it, may change it.
    using Filter = std::function<bool(int fromPc, Message &message)>;

    struct Record {
        int from;
        Message bytes;
    };

    LoopbackChannel();
    ~LoopbackChannel();
    LoopbackChannel(const LoopbackChannel &) = delete;
    LoopbackChannel &operator=(const LoopbackChannel &) = delete;

    static LoopbackChannel *current();

    // Messages sent on a arrive at b and the other way round.
    void link(int a, int b);
    void setDelay(std::chrono::microseconds oneWay);
    void setFilter(Filter filter);
    void setRecording(bool on);

    std::vector<Record> records() const;
    std::vector<Message> sentBy(int pc) const;
    int sendCount(int pc) const;
    bool isRegistered(int pc) const;
    // Blocks until every queued message has been delivered (or lost).
    void waitIdle();
    // Delivers bytes to pc as if its peer had sent them.
    void inject(int toPc, const Message &bytes);

    int send(int pc, const uint8_t *data, int length);
    int registerReceiver(int pc, OnDataFromDataChannelReady callback, uint8_t *buffer, void *userData,
                         int tag);

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

    void run();

    mutable std::mutex queueLock_;
    std::condition_variable queueChanged_;
    std::deque<Pending> queue_;
    bool delivering_ = false;
    bool stopping_ = false;
    std::map<int, int> peers_;
    std::chrono::microseconds delay_{0};
    Filter filter_;
    bool recording_ = true;
    std::vector<Record> records_;
    std::map<int, int> sendCounts_;

    // Held while a callback runs, so that unregistering waits for it to end.
    mutable std::mutex receiverLock_;
    std::map<int, Receiver> receivers_;

    std::thread thread_;
};
