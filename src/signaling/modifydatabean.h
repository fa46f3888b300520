#pragma once

#include "internaldatabean.h"

class ModifyDataBean : public InternalDataBean {
public:
    const std::string &getModifyType() const { return m_modifyType; }
    void setModifyType(const std::string &modifyType) { m_modifyType = modifyType; }
    const std::string &getData() const { return m_data; }
    void setData(const std::string &data) { m_data = data; }

    Json::Value toJson() const override;
    static ModifyDataBean *fromJson(const Json::Value &json);

private:
    std::string m_modifyType;
    std::string m_data;
};
