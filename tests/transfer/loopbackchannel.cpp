#include "loopbackchannel.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
std::atomic<LoopbackChannel *> g_current{nullptr};
}

LoopbackChannel::LoopbackChannel() {
    LoopbackChannel *expected = nullptr;
    if (!g_current.compare_exchange_strong(expected, this)) {
        std::fprintf(stderr, "LoopbackChannel: only one channel at a time\n");
        std::abort();
    }
    thread_ = std::thread([this] { run(); });
}

LoopbackChannel::~LoopbackChannel() {
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        stopping_ = true;
    }
    queueChanged_.notify_all();
    thread_.join();
    g_current.store(nullptr);
}

LoopbackChannel *LoopbackChannel::current() {
    return g_current.load();
}

void LoopbackChannel::link(int a, int b) {
    std::lock_guard<std::mutex> lock(queueLock_);
    peers_[a] = b;
    peers_[b] = a;
}

void LoopbackChannel::setDelay(std::chrono::microseconds oneWay) {
    std::lock_guard<std::mutex> lock(queueLock_);
    delay_ = oneWay;
}

void LoopbackChannel::setFilter(Filter filter) {
    std::lock_guard<std::mutex> lock(queueLock_);
    filter_ = std::move(filter);
}

void LoopbackChannel::setRecording(bool on) {
    std::lock_guard<std::mutex> lock(queueLock_);
    recording_ = on;
}

std::vector<LoopbackChannel::Record> LoopbackChannel::records() const {
    std::lock_guard<std::mutex> lock(queueLock_);
    return records_;
}

std::vector<LoopbackChannel::Message> LoopbackChannel::sentBy(int pc) const {
    std::lock_guard<std::mutex> lock(queueLock_);
    std::vector<Message> out;
    for (const Record &record : records_) {
        if (record.from == pc) {
            out.push_back(record.bytes);
        }
    }
    return out;
}

int LoopbackChannel::sendCount(int pc) const {
    std::lock_guard<std::mutex> lock(queueLock_);
    auto it = sendCounts_.find(pc);
    return it == sendCounts_.end() ? 0 : it->second;
}

bool LoopbackChannel::isRegistered(int pc) const {
    std::lock_guard<std::mutex> lock(receiverLock_);
    return receivers_.count(pc) != 0;
}

void LoopbackChannel::waitIdle() {
    std::unique_lock<std::mutex> lock(queueLock_);
    queueChanged_.wait(lock, [this] { return queue_.empty() && !delivering_; });
}

void LoopbackChannel::inject(int toPc, const Message &bytes) {
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        queue_.push_back({std::chrono::steady_clock::now(), toPc, bytes});
    }
    queueChanged_.notify_all();
}

int LoopbackChannel::send(int pc, const uint8_t *data, int length) {
    if (!data || length <= 0) {
        return ZUWEBRTC_EARG;
    }
    if (length > ZUWEBRTC_MAX_MESSAGE) {
        return ZUWEBRTC_ESIZE;
    }
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        auto peer = peers_.find(pc);
        if (peer == peers_.end()) {
            return ZUWEBRTC_EHANDLE;
        }
        Message message(data, data + length);
        ++sendCounts_[pc];
        if (recording_) {
            records_.push_back({pc, message});
        }
        if (filter_ && !filter_(pc, message)) {
            return ZUWEBRTC_OK;
        }
        queue_.push_back({std::chrono::steady_clock::now() + delay_, peer->second, std::move(message)});
    }
    queueChanged_.notify_all();
    return ZUWEBRTC_OK;
}

int LoopbackChannel::registerReceiver(int pc, OnDataFromDataChannelReady callback, uint8_t *buffer,
                                      void *userData, int tag) {
    std::lock_guard<std::mutex> lock(receiverLock_);
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

void LoopbackChannel::run() {
    std::unique_lock<std::mutex> lock(queueLock_);
    for (;;) {
        queueChanged_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) {
            return;
        }
        const auto due = queue_.front().due;
        if (std::chrono::steady_clock::now() < due) {
            queueChanged_.wait_until(lock, due);
            continue;
        }
        Pending pending = std::move(queue_.front());
        queue_.pop_front();
        delivering_ = true;
        lock.unlock();
        {
            std::lock_guard<std::mutex> receiverLock(receiverLock_);
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

extern "C" int SendDataViaDataChannel(int pc, const uint8_t *data, int length) {
    LoopbackChannel *channel = LoopbackChannel::current();
    return channel ? channel->send(pc, data, length) : ZUWEBRTC_EHANDLE;
}

extern "C" int RegisterOnDataFromDataChannelReady(int pc, OnDataFromDataChannelReady callback,
                                                  uint8_t *buffer, void *userData, int tag) {
    LoopbackChannel *channel = LoopbackChannel::current();
    return channel ? channel->registerReceiver(pc, callback, buffer, userData, tag) : ZUWEBRTC_EHANDLE;
}
