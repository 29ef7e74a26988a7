#pragma once
// The vocabulary rules as rows of a list view, sorted by phrase; rebuilt whenever the vocabulary
// changes. Display text is "wrong → right"; the two halves have roles of their own.

#include <QAbstractListModel>

#include <string>
#include <vector>

#include "core/VocabRows.h"

namespace quorvel {

class SettingsModel;

class VocabListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { WrongRole = Qt::UserRole, RightRole };

    explicit VocabListModel(SettingsModel& model, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const VocabPair& at(int row) const { return rows_.at(static_cast<size_t>(row)); }
    // The row of that phrase, or -1.
    int rowOf(const std::string& wrong) const;

private:
    void reload();

    SettingsModel& model_;
    std::vector<VocabPair> rows_;
};

}  // namespace quorvel
