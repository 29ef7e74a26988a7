#include "ui/settings/RecordingCard.h"

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTextBoundaryFinder>
#include <QToolButton>
#include <QVBoxLayout>
#include <map>
#include <string>
#include <tuple>

#include "core/HistoryStore.h"
#include "core/L10n.h"
#include "ui/UiTexts.h"
#include "ui/settings/RecordingPlayer.h"
#include "ui/settings/SettingsForm.h"
#include "ui/settings/SettingsModel.h"

namespace quorvel {
namespace {

QString l10n(const char* key) { return QString::fromStdString(L10n::t(key)); }

double durationSeconds(const HistoryEntry& entry) {
    return static_cast<double>(entry.durationMs.value_or(entry.elapsedMs)) / 1000.0;
}

// The style takes a fraction of a millisecond to make a fallback icon, a card needs six and the
// window shows dozens of cards at once: each icon is made once, and let go with the application.
QIcon themeIcon(const QWidget& widget, const char* name, QStyle::StandardPixmap fallback) {
    static std::map<std::string, QIcon> made;
    if (made.empty()) qAddPostRoutine([] { made.clear(); });
    auto found = made.find(name);
    if (found == made.end())
        found = made.emplace(name, QIcon::fromTheme(QString::fromLatin1(name), widget.style()->standardIcon(fallback))).first;
    return found->second;
}

QToolButton* actionButton(const QWidget& card, const char* objectName, const char* textKey, const char* icon,
                          QStyle::StandardPixmap fallback) {
    auto* button = new QToolButton;
    button->setObjectName(QString::fromLatin1(objectName));
    button->setText(l10n(textKey));
    button->setIcon(themeIcon(card, icon, fallback));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    return button;
}

// A card shows the start of a long text: laying out a wrapped label of a megabyte takes minutes.
// Copy and paste still take the whole text.
constexpr qsizetype kShownChars = 1500;
constexpr qsizetype kShownModeChars = 80;
// A label breaks lines only between words: a longer run without a space (a link, a name typed as
// one word) gets invisible break points, or it would widen the page to its whole length.
constexpr int kLongestRun = 30;

// The start of `text`, cut between two characters as the reader sees them (never inside an emoji
// or before an accent), with invisible break points in long runs.
QString shown(const QString& text, qsizetype limit) {
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    QString out;
    qsizetype start = 0;
    int run = 0;
    for (qsizetype end = graphemes.toNextBoundary(); end != -1; end = graphemes.toNextBoundary()) {
        if (end > limit) return out + QStringLiteral("…");
        const QStringView piece = QStringView(text).mid(start, end - start);
        run = piece.front().isSpace() ? 0 : run + 1;
        if (run > kLongestRun) {
            out += QChar(0x200B);  // zero width space
            run = 1;
        }
        out += piece;
        start = end;
    }
    return out;
}

bool hasDistinctOriginal(const HistoryEntry& entry) {
    return entry.originalText && *entry.originalText != entry.text;
}

}  // namespace

RecordingCard::RecordingCard(HistoryEntry entry, SettingsModel& model, QWidget* parent)
    : QFrame(parent), entry_(std::move(entry)), model_(model) {
    setObjectName(QStringLiteral("recordingCard"));
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 6);
    layout->setSpacing(4);
    layout->addWidget(buildHeader());
    text_ = new QLabel(shown(shownText(), kShownChars));
    text_->setObjectName(QStringLiteral("cardText"));
    text_->setWordWrap(true);
    text_->setTextFormat(Qt::PlainText);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(text_);
    layout->addWidget(buildActions());
}

QString RecordingCard::shownText() const {
    return QString::fromStdString(original_ && entry_.originalText ? *entry_.originalText : entry_.text);
}

QWidget* RecordingCard::buildHeader() {
    auto* header = new QWidget;
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    play_ = new QToolButton;
    play_->setObjectName(QStringLiteral("playButton"));
    play_->setAutoRaise(true);
    play_->setIconSize(QSize(22, 22));
    connect(play_, &QToolButton::clicked, this, &RecordingCard::togglePlayback);
    position_ = new QLabel;
    position_->setObjectName(QStringLiteral("positionLabel"));
    QString when = QString::fromStdString(entry_.ts);
    if (!entry_.modeName.empty())
        when += QStringLiteral(" · ") + shown(QString::fromStdString(entry_.modeName), kShownModeChars);
    row->addWidget(play_);
    row->addWidget(position_);
    row->addSpacing(8);
    row->addWidget(SettingsForm::note(when), 1);

    const bool playable =
        entry_.audioPath && RecordingPlayer::looksPlayable(model_.historyStore().recordingsDir() / *entry_.audioPath);
    play_->setEnabled(playable);
    showPlayback();

    if (hasDistinctOriginal(entry_)) {
        auto* group = new QButtonGroup(header);
        for (const auto& [name, key, original] : {std::tuple{"processedButton", "processed", false},
                                                  std::tuple{"originalButton", "original", true}}) {
            auto* choice = new QToolButton;
            choice->setObjectName(QString::fromLatin1(name));
            choice->setText(l10n(key));
            choice->setCheckable(true);
            choice->setChecked(original == original_);
            choice->setAutoRaise(true);
            group->addButton(choice);
            row->addWidget(choice);
            connect(choice, &QToolButton::toggled, this, [this, original](bool on) {
                if (on) showOriginal(original);
            });
        }
    }
    return header;
}

QWidget* RecordingCard::buildActions() {
    auto* actions = new QWidget;
    auto* row = new QHBoxLayout(actions);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    auto* copy = actionButton(*this, "copyButton", "copy", "edit-copy", QStyle::SP_FileDialogContentsView);
    auto* paste = actionButton(*this, "pasteButton", "paste_to_app", "go-next", QStyle::SP_ArrowRight);
    auto* details = actionButton(*this, "detailsButton", "details", "dialog-information", QStyle::SP_MessageBoxInformation);
    auto* remove = actionButton(*this, "deleteButton", "delete", "edit-delete", QStyle::SP_TrashIcon);
    connect(copy, &QToolButton::clicked, this, [this] { QApplication::clipboard()->setText(shownText()); });
    connect(paste, &QToolButton::clicked, this,
            [this] { model_.actions().pasteToPreviousApp(shownText().toStdString()); });
    connect(details, &QToolButton::clicked, this, &RecordingCard::showDetails);
    // The model drops the entry at once and the page then drops this card; the file is
    // rewritten in the background.
    connect(remove, &QToolButton::clicked, this, [this] { model_.deleteEntry(entry_.id); });
    for (auto* button : {copy, paste, details}) row->addWidget(button);
    row->addStretch();
    row->addWidget(remove);
    return actions;
}

void RecordingCard::togglePlayback() {
    if (!player_)
        player_ = new RecordingPlayer(model_.historyStore().recordingsDir() / entry_.audioPath.value_or(""), this);
    if (player_->playing()) {
        player_->pause();
    } else if (!player_->play()) {
        // Not decodable after all, or no audio output: nothing to offer.
        play_->setEnabled(false);
    }
    connect(player_, &RecordingPlayer::changed, this, &RecordingCard::showPlayback, Qt::UniqueConnection);
    showPlayback();
}

void RecordingCard::showPlayback() {
    const bool playing = player_ && player_->playing();
    play_->setIcon(playing ? themeIcon(*this, "media-playback-pause", QStyle::SP_MediaPause)
                           : themeIcon(*this, "media-playback-start", QStyle::SP_MediaPlay));
    const double at = player_ ? player_->position() : 0;
    position_->setText(UiTexts::elapsedLabel(at) + QStringLiteral(" / ") +
                       UiTexts::elapsedLabel(durationSeconds(entry_)));
}

void RecordingCard::showOriginal(bool original) {
    original_ = original;
    text_->setText(shown(shownText(), kShownChars));
}

QString RecordingCard::detailsText(const HistoryEntry& entry) {
    const QString none = QStringLiteral("—");
    auto optional = [&](const std::optional<std::string>& value) {
        return value && !value->empty() ? QString::fromStdString(*value) : none;
    };
    return QStringList{
        QStringLiteral("Дата: ") + QString::fromStdString(entry.ts),
        l10n("duration") + QStringLiteral(": ") + UiTexts::elapsedLabel(durationSeconds(entry)),
        l10n("model") + QStringLiteral(": ") + optional(entry.modelName),
        QStringLiteral("Режим: ") + shown(QString::fromStdString(entry.modeName), kShownModeChars),
        l10n("source_app") + QStringLiteral(": ") + optional(entry.sourceApp),
        QStringLiteral("Слов: ") + QString::number(entry.words()),
    }.join(QLatin1Char('\n'));
}

void RecordingCard::showDetails() {
    auto* box = new QMessageBox(QMessageBox::Information, l10n("details"), detailsText(entry_), QMessageBox::NoButton, this);
    box->setObjectName(QStringLiteral("detailsBox"));
    box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

}  // namespace quorvel
