#include "jsontext.h"

#include <memory>

#include "refusallog.h"

// The classic writer is what the wire format was defined with; jsoncpp marks it deprecated, so the
// warnings are silenced here, in the one place that uses it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace jsontext {

std::string write(const Json::Value &value) {
    Json::FastWriter writer;
    return writer.write(value);
}

namespace {

std::unique_ptr<Json::CharReader> makeReader() {
    // The classic reader's grammar (comments, any root, extra text after the value ignored), with a
    // nesting limit far below the depth at which jsoncpp throws.
    Json::CharReaderBuilder builder;
    builder["allowComments"] = true;
    builder["strictRoot"] = false;
    builder["allowTrailingCommas"] = false;
    builder["failIfExtra"] = false;
    builder["stackLimit"] = kMaxDepth;
    return std::unique_ptr<Json::CharReader>(builder.newCharReader());
}

}  // namespace

bool parse(const char *begin, const char *end, Json::Value &out) {
    thread_local const std::unique_ptr<Json::CharReader> reader = makeReader();
    out = Json::Value();
    try {
        std::string errors;
        if (reader->parse(begin, end, &out, &errors)) {
            return true;
        }
    } catch (const std::exception &) {
        // jsoncpp reports a nesting over its stack limit by throwing.
        logRefusal("json depth",
                   "refused a JSON text nested deeper than " + std::to_string(kMaxDepth) + " levels");
    }
    out = Json::Value();
    return false;
}

bool parse(const std::string &text, Json::Value &out) {
    return parse(text.data(), text.data() + text.size(), out);
}

std::string readString(const Json::Value &object, const char *key, const std::string &fallback) {
    if (!object.isObject()) {
        return fallback;
    }
    const Json::Value *member = object.find(key, key + std::char_traits<char>::length(key));
    if (!member || !member->isString()) {
        return fallback;
    }
    return member->asString();
}

int readInt(const Json::Value &object, const char *key, int fallback) {
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
