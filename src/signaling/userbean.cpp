#include "userbean.h"

#include "core/jsontext.h"

Json::Value UserBean::toJson() const {
    Json::Value json(Json::objectValue);
    json["id"] = m_id;
    json["nickname"] = m_nickname;
    json["devicetype"] = devicetypeToText(m_devicetype);
    return json;
}

UserBean *UserBean::fromJson(const Json::Value &json) {
    auto *bean = new UserBean;
    bean->m_id = jsontext::readString(json, "id");
    bean->m_nickname = jsontext::readString(json, "nickname");
    bean->m_devicetype = devicetypeFromText(jsontext::readString(json, "devicetype"));
    return bean;
}
