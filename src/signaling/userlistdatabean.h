#pragma once

#include <memory>
#include <vector>

#include "internaldatabean.h"
#include "userbean.h"

class UserListDataBean : public InternalDataBean {
public:
    const std::vector<std::shared_ptr<UserBean>> &getUsers() const { return users_; }
    void setUsers(const std::vector<std::shared_ptr<UserBean>> &users) { users_ = users; }
    void addUser(const std::shared_ptr<UserBean> &user) { users_.push_back(user); }

    // An array of the non-empty entries, or null when there are none.
    Json::Value toJson() const override;
    static UserListDataBean *fromJson(const Json::Value &json);

private:
    std::vector<std::shared_ptr<UserBean>> users_;
};
