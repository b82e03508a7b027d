#include "support/window_rig.h"

#include "decode/meter_state.h"
#include "record/recorder.h"

namespace kq::test {

std::unique_ptr<kq::app::TFCOMM> windowOverOneMeter(kq::app::Dialogs& dialogs,
                                                    kq::links::FakeUsbBridge*& bridge) {
    auto fake = std::make_unique<kq::links::FakeUsbBridge>();
    fake->setDeviceCount(1);
    bridge = fake.get();
    auto window = std::make_unique<kq::app::TFCOMM>(dialogs, std::move(fake));
    window->show();
    return window;
}

std::string digitsOf(const kq::app::TFCOMM& w) {
    std::string out;
    for (const auto& d : w.state().display.digits)
        out += d.empty() ? "_" : d;
    return out;
}

std::set<std::string> loggedValues(kq::app::TFCOMM& w) {
    std::set<std::string> out;
    const auto& t = w.recorder().cds1;
    for (std::size_t i = 0; i < t.rowCount(); ++i)
        out.insert(t.textString(i, kq::record::LogTable::Field::Value).value_or("<null>"));
    return out;
}

} // namespace kq::test
