#include "links/usbbridge.h"

namespace kq::links {

std::string_view ubStatusName(UB_STATUS status) {
    switch (status) {
    case UB_OK:
        return "UB_OK";
    case UB_INVALID_HANDLE:
        return "UB_INVALID_HANDLE";
    case UB_DEVICE_NOT_FOUND:
        return "UB_DEVICE_NOT_FOUND";
    case UB_DEVICE_NOT_OPENED:
        return "UB_DEVICE_NOT_OPENED";
    case UB_IO_ERROR:
        return "UB_IO_ERROR";
    case UB_INVALID_PARAMETER:
        return "UB_INVALID_PARAMETER";
    case UB_INVALID_BAUD_RATE:
        return "UB_INVALID_BAUD_RATE";
    case UB_NO_DATA:
        return "UB_NO_DATA";
    case UB_SET_FAILED:
        return "UB_SET_FAILED";
    case UB_NOT_PERMITTED:
        return "UB_NOT_PERMITTED";
    default:
        return "UB_UNKNOWN_STATUS";
    }
}

} // namespace kq::links
