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
    const std::string &getDataType() const { return m_dataType; }
    void setDataType(const std::string &dataType) { m_dataType = dataType; }
    const std::shared_ptr<InternalDataBean> &getData() const { return m_data; }
    void setData(const std::shared_ptr<InternalDataBean> &data) { m_data = data; }
    const std::string &getId() const { return m_id; }
    void setId(const std::string &id) { m_id = id; }
    const std::string &getRequestData() const { return m_requestData; }
    void setRequestData(const std::string &requestData) { m_requestData = requestData; }

    // The payload as its own class, or empty when there is none or it is of another class.
    std::shared_ptr<SdpDataBean> getSdpData() const;
    std::shared_ptr<IceCandiateDataBean> getIceCandidateData() const;
    std::shared_ptr<ModifyDataBean> getModifyData() const;
    std::shared_ptr<UserListDataBean> getUserListData() const;

    Json::Value toJson() const;
    static DataBean *fromJson(const Json::Value &json);

private:
    std::string m_dataType;
    std::shared_ptr<InternalDataBean> m_data;
    std::string m_id;
    std::string m_requestData;
};
