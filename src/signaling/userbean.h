#pragma once

#include <string>

#include <json/json.h>

class UserBean {
public:
    const std::string &getId() const { return id_; }
    void setId(const std::string &id) { id_ = id; }
    const std::string &getNickname() const { return nickname_; }
    void setNickname(const std::string &nickname) { nickname_ = nickname; }
    // 1 for a mobile device, 0 for any other.
    int getDevicetype() const { return devicetype_; }
    void setDevicetype(int devicetype) { devicetype_ = devicetype; }

    Json::Value toJson() const;
    static UserBean *fromJson(const Json::Value &json);

    // "1" is a mobile device; every other text, a number or nothing is a desktop.
    static int devicetypeFromText(const std::string &text) { return text == "1" ? 1 : 0; }
    static const char *devicetypeToText(int devicetype) { return devicetype == 1 ? "1" : "0"; }

private:
    std::string id_;
    std::string nickname_;
    int devicetype_ = 0;
};
