#include "transferprotocol.h"

#include <QCoreApplication>

#include <cstring>

#include <openssl/evp.h>

#include "core/jsontext.h"

namespace transferprotocol {

const char kControlTag[kTagSize] = {'c', 't', 'r', 'l', '\0'};
const char kDataTag[kTagSize] = {'d', 'a', 't', 'a', '\0'};

const char kSendRequest[] = "send_req";
const char kReceiveResponse[] = "receive_resp";
const char kBegin[] = "begin";
const char kContinue[] = "continue";
const char kRepeat[] = "repeat";
const char kComplete[] = "complete";
const char kCancel[] = "cancel";

namespace {

// jsoncpp writes the short escapes \b \f \n \r \t and DEL as it is; the wire format wants \u00xx.
std::string longEscapes(const std::string &text) {
    std::string out;
    out.reserve(text.size() + 16);
    static const char hex[] = "0123456789abcdef";
    auto unicodeEscape = [&](unsigned char c) {
        out += "\\u00";
        out += hex[c >> 4];
        out += hex[c & 0xf];
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            switch (next) {
                case 'b':
                    unicodeEscape('\b');
                    break;
                case 'f':
                    unicodeEscape('\f');
                    break;
                case 'n':
                    unicodeEscape('\n');
                    break;
                case 'r':
                    unicodeEscape('\r');
                    break;
                case 't':
                    unicodeEscape('\t');
                    break;
                default:
                    out += c;
                    out += next;
            }
        } else if (c == '\x7f') {
            unicodeEscape(0x7f);
        } else {
            out += c;
        }
    }
    return out;
}

bool isBidiControl(char16_t u) {
    return (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069) || u == 0x200e || u == 0x200f;
}

}  // namespace

PackageKind kindOf(const uint8_t *package, size_t size) {
    if (!package || size < kTagSize) {
        return PackageKind::Other;
    }
    if (std::memcmp(package, kControlTag, kTagSize) == 0) {
        return PackageKind::Control;
    }
    if (std::memcmp(package, kDataTag, kTagSize) == 0) {
        return PackageKind::Data;
    }
    return PackageKind::Other;
}

std::string controlText(const std::string &type, const std::string &data, const std::string &name,
                        int64_t length) {
    Json::Value root(Json::objectValue);
    root["type"] = type;
    root["data"] = data;
    root["name"] = name;
    root["length"] = Json::Int64(length);
    return longEscapes(jsontext::write(root));
}

bool writeControl(uint8_t *buffer, const std::string &type, const std::string &data, const std::string &name,
                  int64_t length) {
    const std::string text = controlText(type, data, name, length);
    if (text.size() + 1 > kJsonCapacity) {
        return false;
    }
    std::memset(buffer, 0, kControlPackageSize);
    std::memcpy(buffer, kControlTag, kTagSize);
    std::memcpy(buffer + kJsonOffset, text.data(), text.size());
    return true;
}

std::string controlJson(const uint8_t *package, size_t size) {
    const size_t end = std::min<size_t>(size, kControlPackageSize);
    if (!package || end <= kJsonOffset) {
        return {};
    }
    const auto *begin = reinterpret_cast<const char *>(package) + kJsonOffset;
    const void *zero = std::memchr(begin, 0, end - kJsonOffset);
    if (!zero) {
        return {};
    }
    return std::string(begin, static_cast<const char *>(zero));
}

bool readControl(const uint8_t *package, size_t size, ControlMessage &out) {
    if (kindOf(package, size) != PackageKind::Control) {
        return false;
    }
    const std::string text = controlJson(package, size);
    Json::Value root;
    if (text.empty() || !jsontext::parse(text, root) || !root.isObject()) {
        return false;
    }
    const Json::Value &type = root["type"];
    const Json::Value &data = root["data"];
    const Json::Value &name = root["name"];
    const Json::Value &length = root["length"];
    if (!type.isString() || !data.isString()) {
        return false;
    }
    ControlMessage message;
    message.type = type.asString();
    message.data = data.asString();
    message.hasName = name.isString();
    message.hasLength = length.isInt();
    if (message.hasName) {
        message.name = name.asString();
    }
    if (message.hasLength) {
        message.length = length.asInt();
        if (message.length < 0) {
            return false;
        }
    }
    if (message.type == kSendRequest) {
        if (!message.hasName || !message.hasLength) {
            return false;
        }
        if (message.data != kBegin && message.data != kComplete && message.data != kCancel) {
            return false;
        }
    } else if (message.type == kReceiveResponse) {
        if (message.data != kBegin && message.data != kContinue && message.data != kRepeat &&
            message.data != kComplete && message.data != kCancel) {
            return false;
        }
    } else {
        return false;
    }
    out = std::move(message);
    return true;
}

void sealData(uint8_t *buffer, uint32_t n) {
    std::memset(buffer, 0, kHeaderSize);
    std::memcpy(buffer, kDataTag, kTagSize);
    const std::string length = std::to_string(n);
    std::memcpy(buffer + kLengthOffset, length.data(), length.size());
    const std::string digest = md5Hex(buffer + kHeaderSize, n);
    std::memcpy(buffer + kDigestOffset, digest.data(), kDigestSize);
    if (n < kChunkAreaSize) {
        std::memset(buffer + kHeaderSize + n, 0, kChunkAreaSize - n);
    }
}

bool readDataHeader(const uint8_t *package, size_t size, uint32_t &chunkLength, std::string &digest) {
    if (kindOf(package, size) != PackageKind::Data || size < kHeaderSize) {
        return false;
    }
    const uint8_t *field = package + kLengthOffset;
    uint32_t i = 0;
    uint64_t value = 0;
    for (; i < kLengthFieldSize && field[i] >= '0' && field[i] <= '9'; ++i) {
        value = value * 10 + (field[i] - '0');
        if (value > kMaxChunkLength) {
            return false;
        }
    }
    if (i == 0) {
        return false;
    }
    for (; i < kLengthFieldSize; ++i) {
        if (field[i] != 0) {
            return false;
        }
    }
    if (kHeaderSize + value > size) {
        return false;
    }
    chunkLength = static_cast<uint32_t>(value);
    digest.assign(reinterpret_cast<const char *>(package) + kDigestOffset, kDigestSize);
    return true;
}

std::string md5Hex(const uint8_t *data, size_t size) {
    // OpenSSL's MD5 is several times faster than Qt's, and both ends hash every chunk.
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    static const char empty = 0;
    if (EVP_Digest(data ? static_cast<const void *>(data) : &empty, size, digest, &length, EVP_md5(),
                   nullptr) != 1) {
        return std::string(kDigestSize, '?');  // never matches a digest field
    }
    static const char hex[] = "0123456789abcdef";
    std::string text(2 * length, '0');
    for (unsigned int i = 0; i < length; ++i) {
        text[2 * i] = hex[digest[i] >> 4];
        text[2 * i + 1] = hex[digest[i] & 0xf];
    }
    return text;
}

QString plainFileName(const QString &received) {
    QString name = received;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);

    QString clean;
    clean.reserve(name.size());
    for (const QChar c : qAsConst(name)) {
        if (c.category() == QChar::Other_Control || isBidiControl(c.unicode())) {
            continue;
        }
        clean.append(c);
    }
    clean = clean.trimmed();

    bool dotsOnly = true;
    for (const QChar c : qAsConst(clean)) {
        dotsOnly = dotsOnly && c == QLatin1Char('.');
    }
    if (dotsOnly) {
        clean = QCoreApplication::translate("transferprotocol", "未命名文件");
    }

    if (clean.toUtf8().size() > kMaxDiskNameBytes) {
        QString extension;
        const int dot = clean.lastIndexOf(QLatin1Char('.'));
        if (dot > 0 && clean.size() - dot <= 16) {
            extension = clean.mid(dot);
            clean.truncate(dot);
        }
        while (!clean.isEmpty() && (clean + extension).toUtf8().size() > kMaxDiskNameBytes) {
            clean.chop(clean.size() >= 2 && QChar(clean.back()).isLowSurrogate() ? 2 : 1);
        }
        clean = clean.trimmed() + extension;
    }
    return clean;
}

QString numberedFileName(const QString &name, int attempt) {
    if (attempt <= 0) {
        return name;
    }
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString number = QStringLiteral(" (%1)").arg(attempt);
    if (dot > 0) {
        return name.left(dot) + number + name.mid(dot);
    }
    return name + number;
}

}  // namespace transferprotocol
