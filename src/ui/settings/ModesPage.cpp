#include "ui/settings/ModesPage.h"

#include <QVBoxLayout>

#include "core/L10n.h"
#include "ui/settings/SettingsForm.h"

namespace quorvel {

ModesPage::ModesPage(SettingsModel& model, QWidget* parent) : SettingsPage(model, parent) {
    // To be filled: the page's controls.
    SettingsForm::pageBody(*this, QString::fromStdString(L10n::t("modes")))->addStretch();
}

}  // namespace quorvel
