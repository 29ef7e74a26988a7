#pragma once
// The vocabulary page of the settings window: a phrase and its replacement to add, an import of
// CSV files, and the rules as a list (a model/view list, so thousands of rules stay quick).

#include <QString>

#include "ui/settings/SettingsPage.h"

class QLabel;
class QLineEdit;
class QListView;
class QPushButton;

namespace quorvel {

class VocabListModel;

class VocabularyPage : public SettingsPage {
    Q_OBJECT
public:
    explicit VocabularyPage(SettingsModel& model, QWidget* parent = nullptr);

    // Adds the rules of a CSV file and reports the count (or why the file could not be read)
    // under the import button. The import button asks for the file, then comes here.
    void importCsvFile(const QString& path);

private:
    QWidget* buildAddRow();
    void addPair();
    void removeRow(int row);
    void chooseCsvFile();

    VocabListModel* rows_ = nullptr;
    QListView* list_ = nullptr;
    QLineEdit* wrong_ = nullptr;
    QLineEdit* right_ = nullptr;
    QPushButton* add_ = nullptr;
    QLabel* importResult_ = nullptr;
};

}  // namespace quorvel
