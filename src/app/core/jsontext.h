#pragma once

#include <string>

#include <json/json.h>

namespace jsontext {

// Compact text with sorted keys, \u escapes for non-ASCII and one line feed at the end.
std::string write(const Json::Value &value);

// Texts nested deeper than this (arrays and objects within each other) are refused.
constexpr int kMaxDepth = 64;

// Lenient reading: comments and any root type are accepted. Returns false, never throws, for text
// that is not JSON or is nested deeper than kMaxDepth; the one reader of everything from outside.
bool parse(const std::string &text, Json::Value &out);
bool parse(const char *begin, const char *end, Json::Value &out);

// Field readers that keep the default unless the member exists and has the right type.
std::string readString(const Json::Value &object, const char *key, const std::string &fallback = {});
int readInt(const Json::Value &object, const char *key, int fallback = 0);

}  // namespace jsontext
