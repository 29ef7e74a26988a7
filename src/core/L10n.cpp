#include "core/L10n.h"

#include <unordered_map>

namespace quorvel::L10n {
namespace {

struct Texts {
    const char* ru;
    const char* en;
};

// Settings texts in both interface languages, in the order of the settings pages.
const std::vector<std::pair<std::string, Texts>>& table() {
    static const std::vector<std::pair<std::string, Texts>> entries{
        {"home", {"Домой", "Home"}},
        {"modes", {"Modes", "Modes"}},
        {"vocabulary", {"Vocabulary", "Vocabulary"}},
        {"configuration", {"Configuration", "Configuration"}},
        {"sound", {"Звук", "Sound"}},
        {"models", {"Models library", "Models library"}},
        {"history", {"History", "History"}},
        {"meetings", {"Meetings", "Meetings"}},
        {"soon", {"скоро", "soon"}},
        {"stats_words", {"слов", "words"}},
        {"stats_wpm", {"средняя скорость", "average speed"}},
        {"stats_apps", {"приложений", "apps used"}},
        {"stats_saved", {"часов сэкономлено", "hours saved"}},
        {"all_time", {"Всё время", "All time"}},
        {"typing_test", {"Тест скорости печати", "Typing test"}},
        {"share_stats", {"Поделиться статистикой", "Share your stats"}},
        {"recent", {"Недавние записи", "Recent recordings"}},
        {"see_all", {"Показать все", "See all"}},
        {"no_recordings", {"Записей пока нет — нажмите хоткей и начните диктовать.", "No recordings yet — press the hotkey and start dictating."}},
        {"copy", {"Копировать", "Copy"}},
        {"paste_to_app", {"Вставить в приложение", "Paste into target app"}},
        {"details", {"Сведения", "Details"}},
        {"delete", {"Удалить", "Delete"}},
        {"original", {"Оригинал", "Original"}},
        {"processed", {"Обработано", "AI Processed"}},
        {"duration", {"Длительность", "Duration"}},
        {"model", {"Модель", "Model"}},
        {"source_app", {"Приложение-источник", "Source app"}},
        {"create_mode", {"Создать режим", "Create mode"}},
        {"preset", {"Пресет", "Preset"}},
        {"language", {"Язык", "Language"}},
        {"voice_model", {"Модель распознавания", "Voice Model"}},
        {"language_model", {"Языковая модель (LLM)", "Language Model"}},
        {"activate_apps", {"Активен в приложениях", "Activate for apps"}},
        {"activate_apps_hint", {"Пусто — везде. Имена приложений через запятую.", "Empty = everywhere. App names, comma separated."}},
        {"record_shortcut", {"Хоткей записи режима", "Record shortcut"}},
        {"advanced", {"Расширенные настройки", "Advanced settings"}},
        {"sound_while_recording", {"Звук во время записи", "Sound while recording"}},
        {"system_audio", {"Запись системного аудио", "Record from system audio"}},
        {"identify_speakers", {"Определение спикеров", "Identify Speakers"}},
        {"autocapitalize", {"Автокапитализация", "Autocapitalize Insert"}},
        {"auto_paste", {"Автовставка", "Auto paste"}},
        {"delete_mode", {"Удалить режим", "Delete this mode"}},
        {"translation", {"Перевод (локальный ollama)", "Translate (local ollama)"}},
        {"add_word", {"Добавить слово", "Add word"}},
        {"replace_with", {"Заменить на…", "Replace with…"}},
        {"import_csv", {"Импорт CSV", "Import CSV"}},
        {"theme", {"Тема", "Theme"}},
        {"recording_window", {"Окно записи", "Recording window"}},
        {"always_show", {"Показывать всегда", "Always show"}},
        {"shortcuts", {"Клавиши", "Keyboard Shortcuts"}},
        {"push_to_talk", {"Push to Talk", "Push to Talk"}},
        {"reset", {"Сбросить", "Reset"}},
        {"application", {"Приложение", "Application"}},
        {"check_updates", {"Проверить обновления", "Check for Updates"}},
        {"launch_on_login", {"Запускать при входе", "Launch on login"}},
        {"keep_recordings", {"Хранить записи", "Keep recordings"}},
        {"ui_language", {"Язык интерфейса", "Interface language"}},
        {"audio_processing", {"Обработка аудио", "Audio processing"}},
        {"silence_removal", {"Удаление тишины", "Silence removal"}},
        {"dyn_normalization", {"Динамическая нормализация", "Dynamic normalization"}},
        {"text_input", {"Ввод текста", "Text input"}},
        {"clipboard_content", {"Содержимое буфера", "Clipboard content"}},
        {"paste_result", {"Вставлять результат", "Paste result text"}},
        {"hold_shift_send", {"Shift+вставка = отправка (Return)", "Hold shift to auto-send"}},
        {"simulate_keys", {"Эмулировать нажатия клавиш", "Simulate keypresses"}},
        {"show_in_dock", {"Показывать в Dock", "Show in Dock"}},
        {"menubar_click_record", {"Запись по клику на иконку", "Start Recording on Menubar Click"}},
        {"close_after", {"Закрывать после транскрипции", "Close after transcription"}},
        {"sound_effects", {"Звуковые эффекты", "Sound effects"}},
        {"volume", {"Громкость", "Volume"}},
        {"test_start", {"Старт", "Start"}},
        {"test_stop", {"Стоп", "Stop"}},
        {"auto_mic_volume", {"Автоусиление микрофона", "Automatically increase microphone volume"}},
        {"sound_record", {"Сигналы начала/конца записи", "Start/stop recording sounds"}},
        {"sound_paste", {"Звук вставки", "Paste sound"}},
        {"download", {"Скачать", "Download"}},
        {"select", {"Выбрать", "Select"}},
        {"downloaded", {"скачана", "downloaded"}},
        {"not_downloaded", {"не скачана", "not downloaded"}},
        {"active_f", {"активна", "active"}},
        {"search", {"Поиск", "Search"}},
        {"sort_by", {"Сортировка", "Sort by"}},
        {"favorites_only", {"Только избранные", "Favourites only"}},
    };
    return entries;
}

const std::unordered_map<std::string, Texts>& index() {
    static const std::unordered_map<std::string, Texts> byKey(table().begin(), table().end());
    return byKey;
}

std::string& currentLanguage() {
    static std::string language = "ru";
    return language;
}

}  // namespace

const std::string& language() { return currentLanguage(); }

void setLanguage(std::string code) { currentLanguage() = std::move(code); }

std::vector<std::string> keys() {
    std::vector<std::string> out;
    out.reserve(table().size());
    for (const auto& entry : table()) out.push_back(entry.first);
    return out;
}

std::optional<std::string> text(const std::string& key, const std::string& code) {
    const auto it = index().find(key);
    if (it == index().end()) return std::nullopt;
    if (code == "ru") return it->second.ru;
    if (code == "en") return it->second.en;
    return std::nullopt;
}

std::string t(const std::string& key) {
    if (auto found = text(key, currentLanguage())) return *found;
    if (auto russian = text(key, "ru")) return *russian;
    return key;
}

}  // namespace quorvel::L10n
