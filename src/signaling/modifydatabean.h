#pragma once

#include "internaldatabean.h"

class ModifyDataBean : public InternalDataBean {
public:
    const std::string &getModifyType() const { return modifyType_; }
    void setModifyType(const std::string &modifyType) { modifyType_ = modifyType; }
    const std::string &getData() const { return data_; }
    void setData(const std::string &data) { data_ = data; }

    Json::Value toJson() const override;
    static ModifyDataBean *fromJson(const Json::Value &json);

private:
    std::string modifyType_;
    std::string data_;
};
