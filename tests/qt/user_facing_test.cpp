// What a user of the desktop meets beyond the window's design: what a screen reader says of each box, Qt's own
// buttons in the user's language, and the title bar's buttons of a window that cannot grow.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTranslator>

#include "platform/qt/qt_services.h"
#include "recorder.h"

namespace selvatro::platform::qt::test {
namespace {

QString Spoken(QWidget* widget, QAccessible::Text what) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face != nullptr ? face->text(what) : QStringLiteral("<no accessible interface>");
}

TEST(ScreenReader, EachBoxSaysItsRowAndWhatItHolds) {
    struct Case {
        const platform::AccessibleTexts& texts;
        int row;
        const char* path;
        const char* delay;
        const char* pathDescription;
        const char* logo;
    };
    const Case cases[] = {
        {window::kDesign.accessibleEnglish, 0, "Program 1", "Delay of program 1 (seconds)",
         "Enter here the full path of the program to start", "Tovrel logo"},
        {window::kDesign.accessibleEnglish, 4, "Program 5", "Delay of program 5 (seconds)",
         "Enter here the full path of the program to start", "Tovrel logo"},
        {window::kDesign.accessibleFrench, 1, "Programme 2", "Délai du programme 2 (secondes)",
         "Entrez ici le chemin d'accès au programme à démarrer", "Logo Tovrel"},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.driver.setAccessibleTexts(c.texts);
        EXPECT_EQ(Spoken(rig.window.edit({true, c.row}), QAccessible::Name), QString::fromUtf8(c.path));
        EXPECT_EQ(Spoken(rig.window.edit({false, c.row}), QAccessible::Name), QString::fromUtf8(c.delay));
        EXPECT_EQ(Spoken(rig.window.edit({true, c.row}), QAccessible::Description),
                  QString::fromUtf8(c.pathDescription));
        EXPECT_FALSE(Spoken(rig.window.edit({false, c.row}), QAccessible::Description).isEmpty());
        // The logo's frame is what takes the focus, so it is what a screen reader announces.
        EXPECT_EQ(Spoken(rig.window.picture2(), QAccessible::Name), QString::fromUtf8(c.logo));
        EXPECT_EQ(Spoken(rig.window.logo(), QAccessible::Name), QString::fromUtf8(c.logo));
        EXPECT_FALSE(Spoken(rig.window.picture2(), QAccessible::Description).isEmpty());
    }
}

// The texts of Qt's own buttons, as a dialog shows them, without their keyboard marks.
QString ButtonText(QDialogButtonBox::StandardButton which) {
    QDialogButtonBox box(which);
    return box.button(which)->text().remove(QLatin1Char('&'));
}

TEST(ToolkitTexts, QtsOwnButtonsSpeakTheUsersLanguage) {
    QTranslator* french = LoadToolkitTranslations(QLocale(QLocale::French, QLocale::France));
    ASSERT_NE(french, nullptr) << "qtbase_fr.qm not found: is qt6-translations-l10n installed?";
    EXPECT_EQ(ButtonText(QDialogButtonBox::Open), QString("Ouvrir"));
    EXPECT_EQ(ButtonText(QDialogButtonBox::Cancel), QString("Annuler"));
    delete french;
    EXPECT_EQ(ButtonText(QDialogButtonBox::Cancel), QString("Cancel"));
    EXPECT_EQ(LoadToolkitTranslations(QLocale(QLocale::English, QLocale::UnitedKingdom)), nullptr)
        << "English needs no translation";
}

TEST(TitleBar, OffersMinimiseAndCloseButNoMaximise) {
    Rig rig;
    const Qt::WindowFlags flags = rig.window.widget()->windowFlags();
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
}

}  // namespace
}  // namespace selvatro::platform::qt::test
