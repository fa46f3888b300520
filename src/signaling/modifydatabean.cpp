#include "modifydatabean.h"

#include "core/jsontext.h"

Json::Value ModifyDataBean::toJson() const {
    Json::Value json(Json::objectValue);
    json["modify_type"] = m_modifyType;
    json["data"] = m_data;
    return json;
}

ModifyDataBean *ModifyDataBean::fromJson(const Json::Value &json) {
    auto *bean = new ModifyDataBean;
    bean->m_modifyType = jsontext::readString(json, "modify_type");
    bean->m_data = jsontext::readString(json, "data");
    return bean;
}
