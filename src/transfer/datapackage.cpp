#include "datapackage.h"

DataPackage::DataPackage(uint32_t size) : data_(size ? new uint8_t[size] : nullptr), size_(size) {}

DataPackage::~DataPackage() {
    delete[] data_;
}

std::shared_ptr<DataPackage> DataPackage::create(uint32_t size) {
    return std::make_shared<DataPackage>(size);
}

void DataPackage::registerMetaType() {
    static const int id = qRegisterMetaType<std::shared_ptr<DataPackage>>("std::shared_ptr<DataPackage>");
    (void)id;
}
