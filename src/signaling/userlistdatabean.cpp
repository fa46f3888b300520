#include "userlistdatabean.h"

Json::Value UserListDataBean::toJson() const {
    Json::Value json(Json::nullValue);
    for (const auto &user : users_) {
        if (user) {
            json.append(user->toJson());
        }
    }
    return json;
}

UserListDataBean *UserListDataBean::fromJson(const Json::Value &json) {
    auto *bean = new UserListDataBean;
    if (json.isArray()) {
        for (const auto &element : json) {
            bean->users_.emplace_back(UserBean::fromJson(element));
        }
    }
    return bean;
}
