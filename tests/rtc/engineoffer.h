#pragma once

#include <QTest>
#include <mutex>
#include <string>

#include "rtc/zuwebrtc.h"

// An offer with a data channel from this process's engine peer pc, for tests that play a member
// by hand; empty when none came within 10 s.
inline std::string engineOffer(int pc) {
    static std::mutex mutex;
    static std::string offer;
    {
        std::lock_guard<std::mutex> lock(mutex);
        offer.clear();
    }
    AddDataChannel(pc);
    RegisterOnLocalSdpReadytoSend(
        pc,
        [](const char *, const char *sdp, void *, int) {
            std::lock_guard<std::mutex> lock(mutex);
            offer = sdp;
        },
        nullptr, 0);
    if (CreateOffer(pc) != ZUWEBRTC_OK) {
        return {};
    }
    std::string text;
    (void)QTest::qWaitFor(
        [&] {
            std::lock_guard<std::mutex> lock(mutex);
            text = offer;
            return !text.empty();
        },
        10000);
    return text;
}
