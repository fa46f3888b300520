#pragma once

#include <memory>
#include <string>

#include <json/json.h>

// The payload of a message body; its class follows from the body's "data_type".
class InternalDataBean {
public:
    virtual ~InternalDataBean() = default;
    virtual Json::Value toJson() const = 0;
};

// Makes the payload that "data_type" names, or null for a kind that carries no payload.
std::shared_ptr<InternalDataBean> createInternalData(const std::string &dataType, const Json::Value &json);
