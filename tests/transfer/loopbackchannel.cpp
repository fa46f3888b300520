#include "loopbackchannel.h"

extern "C" int SendDataViaDataChannel(int pc, const uint8_t *data, int length) {
    LoopbackChannel *channel = LoopbackChannel::current();
    return channel ? channel->send(pc, data, length) : ZUWEBRTC_EHANDLE;
}

extern "C" int RegisterOnDataFromDataChannelReady(int pc, OnDataFromDataChannelReady callback,
                                                  uint8_t *buffer, void *userData, int tag) {
    LoopbackChannel *channel = LoopbackChannel::current();
    return channel ? channel->registerReceiver(pc, callback, buffer, userData, tag) : ZUWEBRTC_EHANDLE;
}
