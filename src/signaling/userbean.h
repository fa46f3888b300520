#pragma once

#include <string>

#include <json/json.h>

class UserBean {
public:
    const std::string &getId() const { return m_id; }
    void setId(const std::string &id) { m_id = id; }
    const std::string &getNickname() const { return m_nickname; }
    void setNickname(const std::string &nickname) { m_nickname = nickname; }
    // 1 for a mobile device, 0 for any other.
    int getDevicetype() const { return m_devicetype; }
    void setDevicetype(int devicetype) { m_devicetype = devicetype; }

    Json::Value toJson() const;
    static UserBean *fromJson(const Json::Value &json);

    // "1" is a mobile device; every other text, a number or nothing is a desktop.
    static int devicetypeFromText(const std::string &text) { return text == "1" ? 1 : 0; }
    static const char *devicetypeToText(int devicetype) { return devicetype == 1 ? "1" : "0"; }

private:
    std::string m_id;
    std::string m_nickname;
    int m_devicetype = 0;
};
