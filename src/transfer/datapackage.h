#pragma once

#include <cstdint>
#include <memory>

#include <QMetaType>

// An owned byte buffer with its length: the unit of the file transfer protocol.
class DataPackage {
public:
    // Allocates size bytes; their contents are undefined.
    explicit DataPackage(uint32_t size);
    virtual ~DataPackage();

    DataPackage(const DataPackage &) = delete;
    DataPackage &operator=(const DataPackage &) = delete;

    static std::shared_ptr<DataPackage> create(uint32_t size);

    uint8_t *data() const { return data_; }
    uint32_t size() const { return size_; }

    // Registers "std::shared_ptr<DataPackage>" for queued invocations; safe to call repeatedly.
    static void registerMetaType();

private:
    uint8_t *data_;
    uint32_t size_;
};

Q_DECLARE_METATYPE(std::shared_ptr<DataPackage>)
