#include "signalingbean.h"

#include "core/jsontext.h"

std::shared_ptr<DataBean> SignalingBean::createData() {
    data_ = std::make_shared<DataBean>();
    return data_;
}

SignalingBean SignalingBean::request(const std::string &request) {
    SignalingBean bean;
    bean.setType("ctrl");
    auto body = bean.createData();
    body->setDataType("request");
    body->setRequestData(request);
    return bean;
}

Json::Value SignalingBean::toJson() const {
    Json::Value json(Json::objectValue);
    json["type"] = type_;
    json["sender"] = sender_;
    json["target"] = target_;
    json["data"] = data_ ? data_->toJson() : Json::Value(Json::nullValue);
    json["error_code"] = errorCode_;
    json["error"] = error_;
    return json;
}

std::string SignalingBean::toText() const {
    return jsontext::write(toJson());
}

SignalingBean *SignalingBean::fromJson(const Json::Value &json) {
    auto *bean = new SignalingBean;
    bean->type_ = jsontext::readString(json, "type");
    bean->sender_ = jsontext::readString(json, "sender");
    bean->target_ = jsontext::readString(json, "target");
    const Json::Value body =
        json.isObject() && json.isMember("data") ? json["data"] : Json::Value(Json::nullValue);
    bean->data_.reset(DataBean::fromJson(body));
    bean->errorCode_ = jsontext::readInt(json, "error_code");
    bean->error_ = jsontext::readString(json, "error");
    return bean;
}

std::shared_ptr<SignalingBean> SignalingBean::fromText(const std::string &text) {
    Json::Value json;
    if (!jsontext::parse(text, json)) {
        return nullptr;
    }
    return std::shared_ptr<SignalingBean>(fromJson(json));
}
