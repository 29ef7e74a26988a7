#include "ui/settings/ModelsPage.h"

#include <QVBoxLayout>

#include "core/L10n.h"
#include "ui/settings/SettingsForm.h"

namespace quorvel {

ModelsPage::ModelsPage(SettingsModel& model, QWidget* parent) : SettingsPage(model, parent) {
    // To be filled: the page's controls.
    SettingsForm::pageBody(*this, QString::fromStdString(L10n::t("models")))->addStretch();
}

}  // namespace quorvel
