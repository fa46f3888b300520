#pragma once

#include <QTest>
#include <atomic>
#include <mutex>

#include "rtc/zuwebrtc.h"
#include "signaling/testpeer.h"

// A member played by hand: a signaling connection and an engine peer whose offer and candidates go to
// the host under the given data types; pump() sends them, applies the host's and says if answered.
class HandPeer {
public:
    explicit HandPeer(std::string sdpType = "sdp", std::string iceType = "ice_candidate")
        : sdpType_(std::move(sdpType)), iceType_(std::move(iceType)) {}
    ~HandPeer() { close(); }

    // Makes the offer and returns its text once made (empty after 10 s).
    std::string offer(const std::string &host, bool picture) {
        host_ = host;
        pc = CreatePeerConnection(0, 0, 0, 0, picture ? 0 : 1);
        picture ? AddStream(pc, 1, 0) : AddDataChannel(pc);
        RegisterOnLocalSdpReadytoSend(
            pc,
            [](const char *, const char *sdp, void *self, int) {
                auto *me = static_cast<HandPeer *>(self);
                std::lock_guard<std::mutex> lock(me->mutex_);
                me->out_.insert(me->out_.begin(), testmsg::sdp(me->sdpType_, me->host_, "offer", sdp));
                me->offer_ = sdp;
            },
            this, 0);
        RegisterOnIceCandiateReadytoSend(
            pc,
            [](const char *candidate, int mline, const char *mid, void *self, int) {
                auto *me = static_cast<HandPeer *>(self);
                Json::Value m = testmsg::ice(me->iceType_, me->host_, candidate);
                m["data"]["data"]["sdp_mline_index"] = mline;
                m["data"]["data"]["sdp_mid"] = mid ? mid : "";
                std::lock_guard<std::mutex> lock(me->mutex_);
                me->out_.push_back(m);
            },
            this, 0);
        RegisterOnLocalDataChannelReady(
            pc, [](void *self, int) { static_cast<HandPeer *>(self)->channelOpen = true; }, this, 0);
        CreateOffer(pc);
        (void)QTest::qWaitFor([&] { return !made().empty(); }, 10000);
        return made();
    }
    bool pump() {
        std::vector<Json::Value> out;
        {
            // Not held while the engine is called: its threads take it in the callbacks.
            std::lock_guard<std::mutex> lock(mutex_);
            out.swap(out_);
        }
        for (const Json::Value &m : out) {
            signaling.send(m);
        }
        for (; pc != 0 && read_ < signaling.messages.size(); ++read_) {
            const Json::Value &body = signaling.messages[read_]["data"];
            if (body["data_type"] == sdpType_ && !answered_) {
                answered_ =
                    SetRemoteDescription(pc, "answer", body["data"]["sdp"].asCString()) == ZUWEBRTC_OK;
            } else if (body["data_type"] == iceType_) {
                AddIceCandidate(pc, body["data"]["candidate"].asCString(),
                                body["data"]["sdp_mline_index"].asInt(), body["data"]["sdp_mid"].asCString());
            }
        }
        return answered_;
    }
    void close() { ClosePeerConnection(std::exchange(pc, 0)); }  // a handle of 0 is refused

    TestPeer signaling;
    int pc = 0;
    std::atomic<bool> channelOpen{false};

private:
    std::string made() {
        std::lock_guard<std::mutex> lock(mutex_);
        return offer_;
    }
    const std::string sdpType_, iceType_;
    std::string host_, offer_;
    std::mutex mutex_;
    std::vector<Json::Value> out_;
    int read_ = 0;
    bool answered_ = false;
};
