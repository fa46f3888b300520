#include "enginepair.h"

#include <cstdlib>
#include <cstring>
#include <thread>

namespace enginetest {

namespace {

void onSdp(const char *type, const char *sdp, void *user, int) {
    auto *self = static_cast<Endpoint *>(user);
    if (self->released)
        self->lateCallbacks++;
    {
        std::lock_guard<std::mutex> lock(self->mutex);
        self->sdps.push_back(std::string(type) + "\n" + sdp);
    }
    Endpoint *other = self->other;
    if (std::strcmp(type, "offer") == 0) {
        if (self->holdOffer) {
            std::lock_guard<std::mutex> lock(self->mutex);
            self->heldOffer = sdp;
            return;
        }
        SetRemoteDescription(other->pc, "offer", sdp);
        CreateAnswer(other->pc);
    } else {
        SetRemoteDescription(other->pc, "answer", sdp);
    }
}

void onIce(const char *candidate, int mline, const char *, void *user, int) {
    auto *self = static_cast<Endpoint *>(user);
    if (self->released)
        self->lateCallbacks++;
    self->candidates++;
    if (self->holdCandidates) {
        std::lock_guard<std::mutex> lock(self->mutex);
        self->heldCandidates.emplace_back(candidate, mline);
        return;
    }
    AddIceCandidate(self->other->pc, candidate, mline, "");
}

void onReady(void *user, int) {
    auto *self = static_cast<Endpoint *>(user);
    if (self->released)
        self->lateCallbacks++;
    self->ready++;
}

void onClosed(void *user, int) {
    auto *self = static_cast<Endpoint *>(user);
    if (self->released)
        self->lateCallbacks++;
    self->closed++;
}

void onData(uint8_t *buffer, int length, void *user) {
    auto *self = static_cast<Endpoint *>(user);
    if (self->released)
        self->lateCallbacks++;
    if (buffer != self->receiveBuffer || length < 0 || length > ZUWEBRTC_RECEIVE_BUFFER) {
        self->badBuffer = true;
        return;
    }
    std::lock_guard<std::mutex> lock(self->mutex);
    self->messages.emplace_back(buffer, buffer + length);
}

void onFrame(const uint8_t *y, const uint8_t *u, const uint8_t *v, int, int sy, int su, int sv, int, int w,
             int h, void *user, int) {
    auto *self = static_cast<Endpoint *>(user);
    if (self->released)
        self->lateCallbacks++;
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    FrameInfo info;
    info.width = w;
    info.height = h;
    info.strideY = sy;
    info.strideU = su;
    info.strideV = sv;
    info.packed = u == y + static_cast<size_t>(w) * h && v == u + static_cast<size_t>(cw) * ch;
    const int xs[4] = {w / 4, 3 * w / 4, w / 4, 3 * w / 4};
    const int ys[4] = {h / 4, h / 4, 3 * h / 4, 3 * h / 4};
    for (int q = 0; q < 4; ++q) {
        info.samples[q][0] = y[static_cast<size_t>(ys[q]) * sy + xs[q]];
        info.samples[q][1] = u[static_cast<size_t>(ys[q] / 2) * su + xs[q] / 2];
        info.samples[q][2] = v[static_cast<size_t>(ys[q] / 2) * sv + xs[q] / 2];
    }
    // Touch the last byte of the last plane, so that a short buffer shows under ASan.
    volatile uint8_t last = v[static_cast<size_t>(ch - 1) * sv + cw - 1];
    (void)last;
    {
        std::lock_guard<std::mutex> lock(self->mutex);
        self->lastFrame = info;
    }
    if (self->frames.fetch_add(1) == 0)
        self->firstFrameNs = monotonicNs();
    if (int ms = self->frameSleepMs.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    int closeAfter = self->closeSelfAfterFrames.load();
    if (closeAfter > 0 && self->frames.load() >= closeAfter && !self->released) {
        ClosePeerConnection(self->pc);
        self->released = true;
    }
}

void registerAll(Endpoint &e) {
    RegisterOnLocalSdpReadytoSend(e.pc, onSdp, &e, e.pc);
    RegisterOnIceCandiateReadytoSend(e.pc, onIce, &e, e.pc);
    RegisterOnRemoteI420FrameReady(e.pc, onFrame, &e, e.pc);
    RegisterOnLocalDataChannelReady(e.pc, onReady, &e, e.pc);
    RegisterOnPeerClosed(e.pc, onClosed, &e, e.pc);
    RegisterOnDataFromDataChannelReady(e.pc, onData, e.receiveBuffer, &e, e.pc);
}

}  // namespace

int64_t monotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Endpoint::Endpoint() : receiveBuffer(new uint8_t[ZUWEBRTC_RECEIVE_BUFFER]) {}

Endpoint::~Endpoint() {
    delete[] receiveBuffer;
}

std::vector<std::vector<uint8_t>> Endpoint::takeMessages() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::vector<uint8_t>> out;
    out.swap(messages);
    return out;
}

std::string Endpoint::offerHeld() {
    std::lock_guard<std::mutex> lock(mutex);
    return heldOffer;
}

FrameInfo Endpoint::frame() {
    std::lock_guard<std::mutex> lock(mutex);
    return lastFrame;
}

std::size_t Endpoint::sdpCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return sdps.size();
}

EnginePair::~EnginePair() {
    closeReceiver();
    closeSender();
}

void EnginePair::start(bool senderOffers) {
    receiver.other = &sender;
    sender.other = &receiver;
    receiver.pc = CreatePeerConnection(0, 0, 0, 0, 1);
    sender.pc = CreatePeerConnection(0, 0, 0, 0, 0);
    AddStream(sender.pc, 1, 0);
    AddDataChannel(sender.pc);
    registerAll(sender);
    registerAll(receiver);
    offerCreatedNs = monotonicNs();
    if (senderOffers) {
        CreateOffer(sender.pc);
        return;
    }
    AddDataChannel(receiver.pc);
    CreateOffer(receiver.pc);
}

void EnginePair::closeReceiver() {
    if (receiver.pc > 0 && !receiver.released) {
        ClosePeerConnection(receiver.pc);
        receiver.released = true;
    }
}

void EnginePair::closeSender() {
    if (sender.pc > 0 && !sender.released) {
        ClosePeerConnection(sender.pc);
        sender.released = true;
    }
}

void EnginePair::releaseHeld() {
    std::string offer;
    std::vector<std::pair<std::string, int>> candidates;
    receiver.holdCandidates = false;
    receiver.holdOffer = false;
    {
        std::lock_guard<std::mutex> lock(receiver.mutex);
        offer.swap(receiver.heldOffer);
        candidates.swap(receiver.heldCandidates);
    }
    // Candidates first: the sender has to keep them until its description arrives.
    for (auto &c : candidates)
        AddIceCandidate(sender.pc, c.first.c_str(), c.second, "");
    if (!offer.empty()) {
        SetRemoteDescription(sender.pc, "offer", offer.c_str());
        CreateAnswer(sender.pc);
    }
}

bool showsColour(const FrameInfo &frame, int quadrant, uint32_t rgb, int tolerance) {
    const int r = int(rgb >> 16) & 0xff, g = int(rgb >> 8) & 0xff, b = int(rgb) & 0xff;
    const int want[3] = {((66 * r + 129 * g + 25 * b + 128) >> 8) + 16,
                         ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128,
                         ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128};
    for (int k = 0; k < 3; ++k) {
        if (std::abs(int(frame.samples[quadrant][k]) - want[k]) > tolerance)
            return false;
    }
    return true;
}

}  // namespace enginetest
