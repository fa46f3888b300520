#include "datapackage.h"

DataPackage::DataPackage() : data_(nullptr), size_(0) {}

DataPackage::DataPackage(uint8_t *data, uint32_t size) : data_(data), size_(data ? size : 0) {}

DataPackage::DataPackage(uint32_t size) : data_(size ? new uint8_t[size] : nullptr), size_(size) {}

DataPackage::~DataPackage() {
    delete[] data_;
}

std::shared_ptr<DataPackage> DataPackage::create(uint8_t *data, uint32_t size) {
    return std::make_shared<DataPackage>(data, size);
}

std::shared_ptr<DataPackage> DataPackage::create(uint32_t size) {
    return std::make_shared<DataPackage>(size);
}

void DataPackage::registerMetaType() {
    static const int id = qRegisterMetaType<std::shared_ptr<DataPackage>>("std::shared_ptr<DataPackage>");
    (void)id;
}
