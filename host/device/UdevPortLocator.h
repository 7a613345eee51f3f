#pragma once
// UdevPortLocator: lists tty devices whose USB parent device has idVendor 067b and idProduct 2303,
// in udev's enumeration order. Stateless; any thread.

#include "PortLocator.h"

namespace pixkey {

class UdevPortLocator final : public PortLocator {
public:
    bool locate(std::vector<std::string> &paths) override;
};

} // namespace pixkey
