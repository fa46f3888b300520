#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "rtc/zuwebrtc.h"
#include "signaling/testpeer.h"

// A member played by hand: a signaling connection and an engine peer whose offer and candidates go to
// the host under the given data types; pump() sends them and applies the host's, and says if answered.
class HandPeer {
public:
    HandPeer(std::string sdpType, std::string iceType)
        : m_sdpType(std::move(sdpType)), m_iceType(std::move(iceType)) {}
    ~HandPeer() { close(); }

    void offer(const std::string &host, bool picture) {
        m_host = host;
        pc = CreatePeerConnection(0, 0, 0, 0, picture ? 0 : 1);
        picture ? AddStream(pc, 1, 0) : AddDataChannel(pc);
        RegisterOnLocalSdpReadytoSend(
            pc,
            [](const char *, const char *sdp, void *self, int) {
                auto *me = static_cast<HandPeer *>(self);
                me->queue(testmsg::sdp(me->m_sdpType, me->m_host, "offer", sdp), true);
            },
            this, 0);
        RegisterOnIceCandiateReadytoSend(
            pc,
            [](const char *candidate, int mline, const char *mid, void *self, int) {
                auto *me = static_cast<HandPeer *>(self);
                Json::Value m = testmsg::ice(me->m_iceType, me->m_host, candidate);
                m["data"]["data"]["sdp_mline_index"] = mline;
                m["data"]["data"]["sdp_mid"] = mid ? mid : "";
                me->queue(m, false);
            },
            this, 0);
        CreateOffer(pc);
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
    void close() {
        if (pc != 0) {
            ClosePeerConnection(std::exchange(pc, 0));
        }
    }

    TestPeer signaling;
    int pc = 0;

private:
    void queue(const Json::Value &m, bool first) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_out.insert(first ? m_out.begin() : m_out.end(), m);
    }

    const std::string m_sdpType, m_iceType;
    std::string m_host;
    std::mutex m_mutex;
    std::vector<Json::Value> m_out;
    int m_read = 0;
    bool m_answered = false;
};
