#include "databean.h"

#include "core/jsontext.h"
#include "icecandiatedatabean.h"
#include "modifydatabean.h"
#include "sdpdatabean.h"
#include "userlistdatabean.h"

std::shared_ptr<SdpDataBean> DataBean::getSdpData() const {
    return std::dynamic_pointer_cast<SdpDataBean>(m_data);
}

std::shared_ptr<IceCandiateDataBean> DataBean::getIceCandidateData() const {
    return std::dynamic_pointer_cast<IceCandiateDataBean>(m_data);
}

std::shared_ptr<ModifyDataBean> DataBean::getModifyData() const {
    return std::dynamic_pointer_cast<ModifyDataBean>(m_data);
}

std::shared_ptr<UserListDataBean> DataBean::getUserListData() const {
    return std::dynamic_pointer_cast<UserListDataBean>(m_data);
}

Json::Value DataBean::toJson() const {
    Json::Value json(Json::objectValue);
    json["data_type"] = m_dataType;
    json["data"] = m_data ? m_data->toJson() : Json::Value(Json::nullValue);
    json["id"] = m_id;
    json["request_data"] = m_requestData;
    return json;
}

DataBean *DataBean::fromJson(const Json::Value &json) {
    auto *bean = new DataBean;
    bean->m_dataType = jsontext::readString(json, "data_type");
    const Json::Value payload =
        json.isObject() && json.isMember("data") ? json["data"] : Json::Value(Json::nullValue);
    bean->m_data = createInternalData(bean->m_dataType, payload);
    bean->m_id = jsontext::readString(json, "id");
    bean->m_requestData = jsontext::readString(json, "request_data");
    return bean;
}
