#include "userbean.h"

#include "core/jsontext.h"

Json::Value UserBean::toJson() const {
    Json::Value json(Json::objectValue);
    json["id"] = id_;
    json["nickname"] = nickname_;
    json["devicetype"] = devicetypeToText(devicetype_);
    return json;
}

UserBean *UserBean::fromJson(const Json::Value &json) {
    auto *bean = new UserBean;
    bean->id_ = jsontext::readString(json, "id");
    bean->nickname_ = jsontext::readString(json, "nickname");
    bean->devicetype_ = devicetypeFromText(jsontext::readString(json, "devicetype"));
    return bean;
}
