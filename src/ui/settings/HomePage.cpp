#include "ui/settings/HomePage.h"

#include <QVBoxLayout>

#include "core/L10n.h"
#include "ui/settings/SettingsForm.h"

namespace quorvel {

HomePage::HomePage(SettingsModel& model, QWidget* parent) : SettingsPage(model, parent) {
    // To be filled: the page's controls.
    SettingsForm::pageBody(*this, QString::fromStdString(L10n::t("home")))->addStretch();
}

}  // namespace quorvel
