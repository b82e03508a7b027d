#pragma once

#include "app/dialogs.h"
#include "app/tfcomm.h"
#include "links/usbbridge_fake.h"

#include <memory>
#include <set>
#include <string>

namespace kq::test {

// The window shown over a fake bridge with one meter on it; `bridge` is set
// to the fake, which the window owns.
std::unique_ptr<kq::app::TFCOMM> windowOverOneMeter(kq::app::Dialogs& dialogs,
                                                    kq::links::FakeUsbBridge*& bridge);

// The glass's four digits, left to right, '_' for a dark one.
std::string digitsOf(const kq::app::TFCOMM& w);

// The Value field of every row in the window's log, "<null>" for a row without.
std::set<std::string> loggedValues(kq::app::TFCOMM& w);

} // namespace kq::test
