#include "App/AppModel.hpp"

namespace vantrel {

AppModel::AppModel(DesktopHost::Services services, QObject* parent)
    : QObject(parent), host_(DesktopHost::create(std::move(services))) {
    // The host reports from the main loop, which is this object's thread.
    host_->onChanged = [this](DesktopChanges changes) { emitChanges(changes); };
}

AppModel::~AppModel() {
    host_->onChanged = nullptr;
}

void AppModel::emitChanges(DesktopChanges changes) {
    using Change = DesktopChange;
    const std::pair<Change, void (AppModel::*)()> signals[] = {
        {Change::sharing, &AppModel::sharingEnabledChanged},
        {Change::port, &AppModel::portChanged},
        {Change::client, &AppModel::clientNameChanged},
        {Change::permissions, &AppModel::permissionsChanged},
        {Change::displays, &AppModel::displaysChanged},
        {Change::activeDisplay, &AppModel::activeDisplayChanged},
        {Change::addresses, &AppModel::addressesChanged},
        {Change::captureError, &AppModel::captureErrorChanged},
        {Change::pairing, &AppModel::pairingChanged},
        {Change::showCode, &AppModel::showCodeChanged},
        {Change::followWindows, &AppModel::followWindowsChanged},
    };
    for (const auto& [change, signal] : signals) {
        if (changes.has(change)) {
            Q_EMIT(this->*signal)();
        }
    }
    Q_EMIT changed();
}

}  // namespace vantrel
