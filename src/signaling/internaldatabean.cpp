#include "internaldatabean.h"

#include "icecandiatedatabean.h"
#include "modifydatabean.h"
#include "sdpdatabean.h"
#include "userlistdatabean.h"

std::shared_ptr<InternalDataBean> createInternalData(const std::string &dataType, const Json::Value &json) {
    if (dataType == "sdp" || dataType == "share_screen_sdp") {
        return std::shared_ptr<InternalDataBean>(SdpDataBean::fromJson(json));
    }
    if (dataType == "ice_candidate" || dataType == "share_screen_ice_candidate") {
        return std::shared_ptr<InternalDataBean>(IceCandiateDataBean::fromJson(json));
    }
    if (dataType == "allUser") {
        return std::shared_ptr<InternalDataBean>(UserListDataBean::fromJson(json));
    }
    if (dataType == "modify") {
        return std::shared_ptr<InternalDataBean>(ModifyDataBean::fromJson(json));
    }
    return nullptr;
}
