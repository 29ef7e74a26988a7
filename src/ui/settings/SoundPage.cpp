#include "ui/settings/SoundPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <cmath>

#include "core/L10n.h"
#include "platform/SoundPlayer.h"
#include "ui/settings/SettingsForm.h"

namespace quorvel {
namespace {

QString l10n(const char* key) { return QString::fromStdString(L10n::t(key)); }

QPushButton* testButton(const char* key, const char* iconName, QStyle::StandardPixmap fallback, QStyle* style,
                        SoundPlayer::Kind kind) {
    auto* button = new QPushButton(QIcon::fromTheme(QString::fromLatin1(iconName), style->standardIcon(fallback)), l10n(key));
    button->setObjectName(QStringLiteral("action:") + QString::fromLatin1(key));
    QObject::connect(button, &QPushButton::clicked, button, [kind] { SoundPlayer::play(kind); });
    return button;
}

}  // namespace

QString SoundPage::volumeCaption(double volume) {
    // The tiny epsilon keeps 0.29 (stored as 0.28999…) from reading "28%".
    const double percent = std::floor(volume * 100.0 + 1e-9);
    return QString::number(static_cast<long long>(std::isfinite(percent) ? percent : 0)) + QLatin1Char('%');
}

SoundPage::SoundPage(SettingsModel& model, QWidget* parent) : SettingsPage(model, parent) {
    QVBoxLayout* body = SettingsForm::pageBody(*this, l10n("sound"));
    QVBoxLayout* content = nullptr;
    body->addWidget(SettingsForm::card(l10n("sound_effects"), content));

    content->addWidget(SettingsForm::row(
        QStringLiteral("Профиль"),
        SettingsForm::picker(model_, "soundProfile", &AppConfig::soundProfile,
                             {{QStringLiteral("Классический"), "classic"},
                              {QStringLiteral("Простой"), "simple"},
                              {QStringLiteral("Выкл"), "off"}})));
    auto* volume = SettingsForm::slider(model_, "soundVolume", &AppConfig::soundVolume, 0, 100, 0.01,
                                        [](double value) { return l10n("volume") + QStringLiteral(": ") + volumeCaption(value); });
    content->addWidget(volume);

    auto* tests = new QHBoxLayout;
    tests->addWidget(testButton("test_start", "media-playback-start", QStyle::SP_MediaPlay, style(),
                                SoundPlayer::Kind::recordStart));
    tests->addWidget(testButton("test_stop", "media-playback-stop", QStyle::SP_MediaStop, style(),
                                SoundPlayer::Kind::recordStop));
    tests->addStretch();
    content->addLayout(tests);

    content->addWidget(SettingsForm::row(
        l10n("sound_while_recording"),
        SettingsForm::picker(model_, "soundWhileRecording", &AppConfig::soundWhileRecording,
                             {{QStringLiteral("Нет"), "off"}, {QStringLiteral("Тик каждые 5 с"), "tick"}})));
    content->addWidget(SettingsForm::toggle(model_, l10n("sound_record"), "soundRecord", &AppConfig::soundRecord));
    content->addWidget(SettingsForm::toggle(model_, l10n("sound_paste"), "soundPaste", &AppConfig::soundPaste));
    QCheckBox* mic = SettingsForm::toggle(model_, l10n("auto_mic_volume"), "dynamicNormalization",
                                          &AppConfig::dynamicNormalization);
    mic->setObjectName(QStringLiteral("dynamicNormalization@sound"));
    content->addWidget(mic);
    body->addStretch();
}

}  // namespace quorvel
