#include "jsontext.h"

// The classic reader and writer are what the wire format was defined with; jsoncpp marks them
// deprecated, so the warnings are silenced here, in the one place that uses them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace jsontext {

std::string write(const Json::Value &value)
{
    Json::FastWriter writer;
    return writer.write(value);
}

bool parse(const char *begin, const char *end, Json::Value &out)
{
    Json::Reader reader;
    return reader.parse(begin, end, out, true);
}

bool parse(const std::string &text, Json::Value &out)
{
    return parse(text.data(), text.data() + text.size(), out);
}

std::string readString(const Json::Value &object, const char *key, const std::string &fallback)
{
    if (!object.isObject()) {
        return fallback;
    }
    const Json::Value *member = object.find(key, key + std::char_traits<char>::length(key));
    if (!member || !member->isString()) {
        return fallback;
    }
    return member->asString();
}

int readInt(const Json::Value &object, const char *key, int fallback)
{
    if (!object.isObject()) {
        return fallback;
    }
    const Json::Value *member = object.find(key, key + std::char_traits<char>::length(key));
    if (!member || !member->isInt()) {
        return fallback;
    }
    return member->asInt();
}

}  // namespace jsontext

#pragma GCC diagnostic pop
