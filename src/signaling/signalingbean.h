#pragma once

#include <memory>
#include <string>

#include <json/json.h>

#include "databean.h"

// The envelope of every signaling message: one JSON object per WebSocket text frame.
class SignalingBean {
public:
    virtual ~SignalingBean() = default;

    const std::string &getType() const { return type_; }
    void setType(const std::string &type) { type_ = type; }
    const std::string &getSender() const { return sender_; }
    void setSender(const std::string &sender) { sender_ = sender; }
    const std::string &getTarget() const { return target_; }
    void setTarget(const std::string &target) { target_ = target; }
    const std::shared_ptr<DataBean> &getData() const { return data_; }
    void setData(const std::shared_ptr<DataBean> &data) { data_ = data; }
    int getErrorCode() const { return errorCode_; }
    void setErrorCode(int errorCode) { errorCode_ = errorCode; }
    const std::string &getError() const { return error_; }
    void setError(const std::string &error) { error_ = error; }

    // Attaches a new, empty body in place of any previous one and returns it.
    std::shared_ptr<DataBean> createData();
    // A "ctrl" message whose body asks for request ("allUser", "owner", "cut_off", "agree_share" ...).
    static SignalingBean request(const std::string &request);

    Json::Value toJson() const;
    // The wire text: compact, keys sorted, one line feed at the end.
    std::string toText() const;
    static SignalingBean *fromJson(const Json::Value &json);
    // Null when the text is not JSON at all.
    static std::shared_ptr<SignalingBean> fromText(const std::string &text);

private:
    std::string type_;
    std::string sender_;
    std::string target_;
    std::shared_ptr<DataBean> data_;
    int errorCode_ = 0;
    std::string error_;
};
