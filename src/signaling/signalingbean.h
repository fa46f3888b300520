#pragma once

#include <memory>
#include <string>

#include <json/json.h>

#include "databean.h"

// The envelope of every signaling message: one JSON object per WebSocket text frame.
class SignalingBean {
public:
    virtual ~SignalingBean() = default;

    const std::string &getType() const { return m_type; }
    void setType(const std::string &type) { m_type = type; }
    const std::string &getSender() const { return m_sender; }
    void setSender(const std::string &sender) { m_sender = sender; }
    const std::string &getTarget() const { return m_target; }
    void setTarget(const std::string &target) { m_target = target; }
    const std::shared_ptr<DataBean> &getData() const { return m_data; }
    void setData(const std::shared_ptr<DataBean> &data) { m_data = data; }
    int getErrorCode() const { return m_errorCode; }
    void setErrorCode(int errorCode) { m_errorCode = errorCode; }
    const std::string &getError() const { return m_error; }
    void setError(const std::string &error) { m_error = error; }

    // Attaches a new, empty body in place of any previous one and returns it.
    std::shared_ptr<DataBean> createData();

    Json::Value toJson() const;
    // The wire text: compact, keys sorted, one line feed at the end.
    std::string toText() const;
    static SignalingBean *fromJson(const Json::Value &json);
    // Null when the text is not JSON at all.
    static std::shared_ptr<SignalingBean> fromText(const std::string &text);

private:
    std::string m_type;
    std::string m_sender;
    std::string m_target;
    std::shared_ptr<DataBean> m_data;
    int m_errorCode = 0;
    std::string m_error;
};
