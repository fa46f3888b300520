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
        : m_sdpType(std::move(sdpType)), m_iceType(std::move(iceType)) {}
    ~HandPeer() { close(); }

    // Makes the offer and returns its text once made (empty after 10 s).
    std::string offer(const std::string &host, bool picture) {
        m_host = host;
        pc = CreatePeerConnection(0, 0, 0, 0, picture ? 0 : 1);
        picture ? AddStream(pc, 1, 0) : AddDataChannel(pc);
        RegisterOnLocalSdpReadytoSend(
            pc,
            [](const char *, const char *sdp, void *self, int) {
                auto *me = static_cast<HandPeer *>(self);
                std::lock_guard<std::mutex> lock(me->m_mutex);
                me->m_out.insert(me->m_out.begin(), testmsg::sdp(me->m_sdpType, me->m_host, "offer", sdp));
                me->m_offer = sdp;
            },
            this, 0);
        RegisterOnIceCandiateReadytoSend(
            pc,
            [](const char *candidate, int mline, const char *mid, void *self, int) {
                auto *me = static_cast<HandPeer *>(self);
                Json::Value m = testmsg::ice(me->m_iceType, me->m_host, candidate);
                m["data"]["data"]["sdp_mline_index"] = mline;
                m["data"]["data"]["sdp_mid"] = mid ? mid : "";
                std::lock_guard<std::mutex> lock(me->m_mutex);
                me->m_out.push_back(m);
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
            std::lock_guard<std::mutex> lock(m_mutex);
            out.swap(m_out);
        }
        for (const Json::Value &m : out) {
            signaling.send(m);
        }
        for (; pc != 0 && m_read < signaling.messages.size(); ++m_read) {
            const Json::Value &body = signaling.messages[m_read]["data"];
            if (body["data_type"] == m_sdpType && !m_answered) {
                m_answered =
                    SetRemoteDescription(pc, "answer", body["data"]["sdp"].asCString()) == ZUWEBRTC_OK;
            } else if (body["data_type"] == m_iceType) {
                AddIceCandidate(pc, body["data"]["candidate"].asCString(),
                                body["data"]["sdp_mline_index"].asInt(), body["data"]["sdp_mid"].asCString());
            }
        }
        return m_answered;
    }
    void close() { ClosePeerConnection(std::exchange(pc, 0)); }  // a handle of 0 is refused

    TestPeer signaling;
    int pc = 0;
    std::atomic<bool> channelOpen{false};

private:
    std::string made() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_offer;
    }
    const std::string m_sdpType, m_iceType;
    std::string m_host, m_offer;
    std::mutex m_mutex;
    std::vector<Json::Value> m_out;
    int m_read = 0;
    bool m_answered = false;
};
