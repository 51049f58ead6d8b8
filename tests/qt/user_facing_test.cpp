// What a user of the desktop meets beyond the window's design: Qt's own buttons in the user's language, and the
// title bar's buttons of a window that cannot grow.

#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTranslator>

#include "platform/qt/qt_services.h"
#include "recorder.h"

namespace selvatro::platform::qt::test {
namespace {

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
