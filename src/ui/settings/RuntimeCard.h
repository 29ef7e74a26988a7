#pragma once
// The models page's notice about the speech runtime: shown when the configured interpreter
// cannot import sherpa_onnx, with the button that installs it into a venv of our own, pip's lines
// as they come, and the outcome. A successful install makes the venv's interpreter the
// configured one; a failed one changes nothing.

#include <QString>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace quorvel {

class SettingsModel;

class RuntimeCard : public QWidget {
    Q_OBJECT
public:
    explicit RuntimeCard(SettingsModel& model, QWidget* parent = nullptr);

    // Asks the configured interpreter again (not while an install runs).
    void recheck();

private:
    void onChecked(const QString& python, bool available, const QString& detail);
    void startInstall();
    void onInstallFinished(bool ok, const QString& python, const QString& error);
    void showInstalling();

    SettingsModel& model_;
    QLabel* status_ = nullptr;
    QPushButton* install_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    QLabel* result_ = nullptr;
    QString askedPython_;     // the interpreter the last check was about
    bool installed_ = false;  // this card's install succeeded: its outcome stays in view
};

}  // namespace quorvel
