#include "ui/uilanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QRegularExpression>
#include <QTranslator>

#include "core/usersettings.h"
#include "ui/uilog.h"

namespace {

// The installed translations: owned by the application object, held here only to take them out again.
struct Installed {
    QPointer<QTranslator> own, qt;
};
Installed &installed() {
    static Installed translators;
    return translators;
}

void replace(QPointer<QTranslator> &slot, const QString &file, const QString &folder) {
    if (slot) {
        QCoreApplication::removeTranslator(slot);
        delete slot;
    }
    if (file.isEmpty())
        return;
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(file, folder)) {
        qCDebug(lcUi) << "no translation" << file << "in" << folder;
        delete translator;
        return;
    }
    QCoreApplication::installTranslator(translator);
    slot = translator;
}

}  // namespace

UiLanguage::Language UiLanguage::choose(const QString &setting, const QStringList &preferred) {
    Language chosen = Language::English;
    if (fromCode(setting, &chosen))
        return chosen;
    static const QRegularExpression separator(QStringLiteral("[-_.@]"));
    for (const QString &entry : preferred) {
        // "zh_CN", "zh-Hans-CN", "en-GB", "en": the language is the part before the first separator.
        const QString language = entry.section(separator, 0, 0).toLower();
        if (fromCode(language, &chosen))
            return chosen;
    }
    return Language::English;
}

void UiLanguage::apply(Language language) {
    const bool english = language == Language::English;
    replace(installed().own, english ? QStringLiteral("zushare_en") : QString(), QStringLiteral(":/i18n"));
    replace(installed().qt, english ? QString() : QStringLiteral("qtbase_zh_CN"),
            QLibraryInfo::location(QLibraryInfo::TranslationsPath));
}

UiLanguage::Language UiLanguage::applyForUser() {
    const Language language =
        choose(userSettings().value(QStringLiteral("language")).toString(), QLocale::system().uiLanguages());
    apply(language);
    return language;
}

QString UiLanguage::code(Language language) {
    return language == Language::Chinese ? QStringLiteral("zh") : QStringLiteral("en");
}

bool UiLanguage::fromCode(const QString &code, Language *language) {
    if (code == QLatin1String("zh"))
        *language = Language::Chinese;
    else if (code == QLatin1String("en"))
        *language = Language::English;
    else
        return false;
    return true;
}
