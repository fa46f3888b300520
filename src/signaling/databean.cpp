#include "databean.h"

#include "core/jsontext.h"
#include "icecandiatedatabean.h"
#include "modifydatabean.h"
#include "sdpdatabean.h"
#include "userlistdatabean.h"

std::shared_ptr<SdpDataBean> DataBean::getSdpData() const {
    return std::dynamic_pointer_cast<SdpDataBean>(data_);
}

std::shared_ptr<IceCandiateDataBean> DataBean::getIceCandidateData() const {
    return std::dynamic_pointer_cast<IceCandiateDataBean>(data_);
}

std::shared_ptr<ModifyDataBean> DataBean::getModifyData() const {
    return std::dynamic_pointer_cast<ModifyDataBean>(data_);
}

std::shared_ptr<UserListDataBean> DataBean::getUserListData() const {
    return std::dynamic_pointer_cast<UserListDataBean>(data_);
}

Json::Value DataBean::toJson() const {
    Json::Value json(Json::objectValue);
    json["data_type"] = dataType_;
    json["data"] = data_ ? data_->toJson() : Json::Value(Json::nullValue);
    json["id"] = id_;
    json["request_data"] = requestData_;
    return json;
}

DataBean *DataBean::fromJson(const Json::Value &json) {
    auto *bean = new DataBean;
    bean->dataType_ = jsontext::readString(json, "data_type");
    const Json::Value payload =
        json.isObject() && json.isMember("data") ? json["data"] : Json::Value(Json::nullValue);
    bean->data_ = createInternalData(bean->dataType_, payload);
    bean->id_ = jsontext::readString(json, "id");
    bean->requestData_ = jsontext::readString(json, "request_data");
    return bean;
}
