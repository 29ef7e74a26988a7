#include "ui/settings/VocabularyPage.h"

#include <QVBoxLayout>

#include "core/L10n.h"
#include "ui/settings/SettingsForm.h"

namespace quorvel {

VocabularyPage::VocabularyPage(SettingsModel& model, QWidget* parent) : SettingsPage(model, parent) {
    // To be filled: the page's controls.
    SettingsForm::pageBody(*this, QString::fromStdString(L10n::t("vocabulary")))->addStretch();
}

}  // namespace quorvel
