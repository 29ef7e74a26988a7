#pragma once
// The models page of the settings window: the catalog's models with search, sorting and a
// favourites filter, their downloads, the choice of the model in use, and the notice that
// installs the speech runtime when the worker's interpreter lacks it.

#include <vector>

#include "ui/settings/SettingsPage.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QVBoxLayout;

namespace quorvel {

class ModelRow;
class RuntimeCard;

class ModelsPage : public SettingsPage {
    Q_OBJECT
public:
    explicit ModelsPage(SettingsModel& model, QWidget* parent = nullptr);

    void pageShown() override;

private:
    QWidget* buildFilters();
    ModelRow* rowOf(const QString& id) const;
    // Every row's state anew (after a download, removal or configuration change).
    void refreshRows();
    // Order and visibility of the rows from the search, sort and favourites controls.
    void arrangeRows();

    QLineEdit* search_ = nullptr;
    QComboBox* sort_ = nullptr;
    QCheckBox* favouritesOnly_ = nullptr;
    RuntimeCard* runtime_ = nullptr;
    QVBoxLayout* rowsLayout_ = nullptr;
    QLabel* nothingFound_ = nullptr;
    std::vector<ModelRow*> rows_;
};

}  // namespace quorvel
