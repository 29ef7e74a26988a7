#pragma once
// The detail of one dictation mode: every field of the mode, each written through
// SettingsModel::editConfig as soon as it changes (text fields when editing ends, not on every
// key), so one edit is one save and one notice to the program. The view follows the mode by its
// id, so edits elsewhere that reorder or remove modes never make it write to the wrong one.

#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QToolButton;

namespace quorvel {

struct DictationMode;
class SettingsModel;

class ModeDetailView : public QWidget {
    Q_OBJECT
public:
    ModeDetailView(SettingsModel& model, std::string modeId, QWidget* parent = nullptr);

    const std::string& modeId() const { return modeId_; }
    // Puts the cursor in the name field with the name selected.
    void focusName();

Q_SIGNALS:
    // The user went back to the list, or the mode is gone.
    void back();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using Value = std::optional<std::string>;  // nothing: the mode follows the global setting
    struct Choice {
        QString text;
        Value value;
    };
    using Getter = std::function<Value(const DictationMode&)>;
    using Setter = std::function<void(DictationMode&, const Value&)>;

    QWidget* buildHeader();
    QWidget* buildMainCard();
    QWidget* buildAdvancedCard();
    QWidget* buildShortcutSeam();
    void alignFormLabels();
    QComboBox* picker(const char* field, std::vector<Choice> choices, Getter get, Setter set);
    QLineEdit* lineField(const char* field, std::function<QString(const DictationMode&)> get,
                         std::function<void(DictationMode&, const QString&)> set);

    const DictationMode* mode() const;
    // Applies `edit` to this mode and saves, unless it changes nothing.
    void editMode(const std::function<void(DictationMode&)>& edit);
    void commitPrompt();
    void confirmDelete();
    void refresh();
    // The mode's name as the title, cut to the title's width: a long name must not widen the page.
    void showTitle();

    SettingsModel& model_;
    std::string modeId_;
    QLabel* title_ = nullptr;
    QString titleText_;
    QLineEdit* name_ = nullptr;
    QPlainTextEdit* prompt_ = nullptr;
    // Each control's way of showing the mode as it is now.
    std::vector<std::function<void(const DictationMode&)>> refreshers_;
};

}  // namespace quorvel
