#pragma once

#include <memory>
#include <string>

#include <json/json.h>

#include "internaldatabean.h"

class SdpDataBean;
class IceCandiateDataBean;
class ModifyDataBean;
class UserListDataBean;

// The body of a signaling message, the value of the envelope's "data".
class DataBean {
public:
    const std::string &getDataType() const { return dataType_; }
    void setDataType(const std::string &dataType) { dataType_ = dataType; }
    const std::shared_ptr<InternalDataBean> &getData() const { return data_; }
    void setData(const std::shared_ptr<InternalDataBean> &data) { data_ = data; }
    const std::string &getId() const { return id_; }
    void setId(const std::string &id) { id_ = id; }
    const std::string &getRequestData() const { return requestData_; }
    void setRequestData(const std::string &requestData) { requestData_ = requestData; }

    // The payload as its own class, or empty when there is none or it is of another class.
    std::shared_ptr<SdpDataBean> getSdpData() const;
    std::shared_ptr<IceCandiateDataBean> getIceCandidateData() const;
    std::shared_ptr<ModifyDataBean> getModifyData() const;
    std::shared_ptr<UserListDataBean> getUserListData() const;

    Json::Value toJson() const;
    static DataBean *fromJson(const Json::Value &json);

private:
    std::string dataType_;
    std::shared_ptr<InternalDataBean> data_;
    std::string id_;
    std::string requestData_;
};
