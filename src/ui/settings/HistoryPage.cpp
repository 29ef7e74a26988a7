#include "ui/settings/HistoryPage.h"

#include <QVBoxLayout>

#include "core/L10n.h"
#include "ui/settings/SettingsForm.h"

namespace quorvel {

HistoryPage::HistoryPage(SettingsModel& model, QWidget* parent) : SettingsPage(model, parent) {
    // To be filled: the page's controls.
    SettingsForm::pageBody(*this, QString::fromStdString(L10n::t("history")))->addStretch();
}

}  // namespace quorvel
