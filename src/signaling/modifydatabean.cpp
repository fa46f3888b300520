#include "modifydatabean.h"

#include "core/jsontext.h"

Json::Value ModifyDataBean::toJson() const {
    Json::Value json(Json::objectValue);
    json["modify_type"] = modifyType_;
    json["data"] = data_;
    return json;
}

ModifyDataBean *ModifyDataBean::fromJson(const Json::Value &json) {
    auto *bean = new ModifyDataBean;
    bean->modifyType_ = jsontext::readString(json, "modify_type");
    bean->data_ = jsontext::readString(json, "data");
    return bean;
}
