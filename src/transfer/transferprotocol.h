#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <QString>

// Layouts and messages of the file transfer protocol: 1024-byte control packages carrying a JSON
// message, 17408-byte data packages carrying one MD5-checked chunk.
namespace transferprotocol {

constexpr uint32_t kTagSize = 5;
constexpr uint32_t kHeaderSize = 1024;
constexpr uint32_t kControlPackageSize = 1024;
constexpr uint32_t kChunkAreaSize = 16384;
constexpr uint32_t kDataPackageSize = kHeaderSize + kChunkAreaSize;
constexpr uint32_t kMaxPackageSize = 20480;
constexpr uint32_t kMaxChunkLength = kMaxPackageSize - kHeaderSize;
constexpr uint32_t kJsonOffset = 24;
constexpr uint32_t kJsonCapacity = kControlPackageSize - kJsonOffset;
constexpr uint32_t kLengthOffset = 8;
constexpr uint32_t kLengthFieldSize = 16;
constexpr uint32_t kDigestOffset = 24;
constexpr uint32_t kDigestSize = 32;
constexpr uint32_t kMaxNameBytes = 299;
constexpr int64_t kMaxFileLength = 2147483647;
// Names are shortened to this on disk, leaving room for " (n)" and ".tmp_d" within NAME_MAX.
constexpr int kMaxDiskNameBytes = 200;

extern const char kControlTag[kTagSize];
extern const char kDataTag[kTagSize];

extern const char kSendRequest[];      // "send_req"
extern const char kReceiveResponse[];  // "receive_resp"
extern const char kBegin[];
extern const char kContinue[];
extern const char kRepeat[];
extern const char kComplete[];
extern const char kCancel[];

enum class PackageKind { Control, Data, Other };

PackageKind kindOf(const uint8_t *package, size_t size);

struct ControlMessage {
    std::string type;
    std::string data;
    std::string name;
    int64_t length = 0;
    // Answers need only "data"; these tell whether the optional members were present.
    bool hasName = false;
    bool hasLength = false;
};

// The JSON text as it goes on the wire: all four members, ascending keys, compact, one line feed,
// every character outside printable ASCII as \u and four lower-case hex digits.
std::string controlText(const std::string &type, const std::string &data, const std::string &name,
                        int64_t length);

// Builds a control package in the first 1024 bytes of buffer. False when the text with its
// terminating zero does not fit in the 1000 bytes from offset 24; the buffer is then untouched.
bool writeControl(uint8_t *buffer, const std::string &type, const std::string &data, const std::string &name,
                  int64_t length);

// The text from offset 24 up to the first zero byte inside the package (empty when there is none).
std::string controlJson(const uint8_t *package, size_t size);

// Parses a control package. False for anything that is not a well-formed message of the protocol.
bool readControl(const uint8_t *package, size_t size, ControlMessage &out);

// Fills the header of a data package whose chunk of n bytes is already at offset 1024, and zeroes the
// rest of the chunk area so that no bytes of an earlier chunk travel along.
void sealData(uint8_t *buffer, uint32_t n);

// Reads the header of a data package of size bytes. False unless the length field is decimal
// digits followed by zero bytes, 1024 + length is at most 20480 and the package holds the whole chunk.
bool readDataHeader(const uint8_t *package, size_t size, uint32_t &chunkLength, std::string &digest);

std::string md5Hex(const uint8_t *data, size_t size);

// A received name reduced to a plain file name that stays inside the folder it is joined to:
// no directory part, no control characters, never empty, "." or "..", at most kMaxDiskNameBytes.
QString plainFileName(const QString &received);

// name for attempt 0, then "name (1).ext", "name (2).ext", ...
QString numberedFileName(const QString &name, int attempt);

}  // namespace transferprotocol
