#include "ui/settings/VocabListModel.h"

#include <algorithm>

#include "ui/settings/SettingsModel.h"

namespace quorvel {

VocabListModel::VocabListModel(SettingsModel& model, QObject* parent) : QAbstractListModel(parent), model_(model) {
    rows_ = VocabRows::load(model_.vocab());
    connect(&model_, &SettingsModel::vocabChanged, this, &VocabListModel::reload);
}

int VocabListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant VocabListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const VocabPair& pair = at(index.row());
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole: return QString::fromStdString(pair.wrong + " → " + pair.right);
        case WrongRole: return QString::fromStdString(pair.wrong);
        case RightRole: return QString::fromStdString(pair.right);
        default: return {};
    }
}

int VocabListModel::rowOf(const std::string& wrong) const {
    const auto found = std::find_if(rows_.begin(), rows_.end(), [&](const VocabPair& p) { return p.wrong == wrong; });
    return found == rows_.end() ? -1 : static_cast<int>(found - rows_.begin());
}

void VocabListModel::reload() {
    beginResetModel();
    rows_ = VocabRows::load(model_.vocab());
    endResetModel();
}

}  // namespace quorvel
