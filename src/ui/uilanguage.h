#pragma once

#include <QString>
#include <QStringList>

// The language the interface speaks. Its texts are written in Chinese; the English translation is built
// into the program.
class UiLanguage {
public:
    enum class Language { Chinese, English };

    // The user's setting ("zh" or "en") decides; without one the first Chinese or English entry of the
    // system's preferred languages does; with neither, English.
    static Language choose(const QString &setting, const QStringList &preferred);
    // Installs the texts of language into the application in place of those installed before: this
    // program's own and Qt's (its dialogs' buttons). Widgets made afterwards show them.
    static void apply(Language language);
    // choose() from the settings file's "language" and the locale (LANGUAGE, LC_ALL, LC_MESSAGES,
    // LANG), then apply(); returns what it chose.
    static Language applyForUser();
    // "zh" or "en"; a text that is neither gives nothing.
    static QString code(Language language);
    static bool fromCode(const QString &code, Language *language);
};
