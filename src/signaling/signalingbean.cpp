#include "signalingbean.h"

#include "core/jsontext.h"

std::shared_ptr<DataBean> SignalingBean::createData() {
    m_data = std::make_shared<DataBean>();
    return m_data;
}

Json::Value SignalingBean::toJson() const {
    Json::Value json(Json::objectValue);
    json["type"] = m_type;
    json["sender"] = m_sender;
    json["target"] = m_target;
    json["data"] = m_data ? m_data->toJson() : Json::Value(Json::nullValue);
    json["error_code"] = m_errorCode;
    json["error"] = m_error;
    return json;
}

std::string SignalingBean::toText() const {
    return jsontext::write(toJson());
}

SignalingBean *SignalingBean::fromJson(const Json::Value &json) {
    auto *bean = new SignalingBean;
    bean->m_type = jsontext::readString(json, "type");
    bean->m_sender = jsontext::readString(json, "sender");
    bean->m_target = jsontext::readString(json, "target");
    const Json::Value body =
        json.isObject() && json.isMember("data") ? json["data"] : Json::Value(Json::nullValue);
    bean->m_data.reset(DataBean::fromJson(body));
    bean->m_errorCode = jsontext::readInt(json, "error_code");
    bean->m_error = jsontext::readString(json, "error");
    return bean;
}

std::shared_ptr<SignalingBean> SignalingBean::fromText(const std::string &text) {
    Json::Value json;
    if (!jsontext::parse(text, json)) {
        return nullptr;
    }
    return std::shared_ptr<SignalingBean>(fromJson(json));
}
