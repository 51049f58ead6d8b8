// The window as built from its design: where each control stands, its colours, the tab order, and the events
// that the mouse raises over each part of it.

#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>

#include "recorder.h"

namespace selvatro::platform::qt::test {
namespace {

using Events = std::vector<std::string>;

TEST(Layout, ControlsStandWhereTheDesignPutsThemAt96Dpi) {
    Rig rig;
    rig.driver.showInState();
    EXPECT_EQ(rig.window.widget()->size(), QSize(356, 200));
    // Twips / 15: rows 390 twips (26 px) apart, the delay box 3 px right of its path box.
    const int tops[] = {22, 48, 74, 100, 126};
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(rig.window.edit({true, row})->geometry(), QRect(4, tops[row], 317, 23)) << "Text1(" << row << ")";
        EXPECT_EQ(rig.window.edit({false, row})->geometry(), QRect(324, tops[row], 27, 23)) << "Text2(" << row << ")";
    }
    EXPECT_EQ(rig.window.heading(0)->geometry(), QRect(8, 0, 229, 21));
    EXPECT_EQ(rig.window.heading(1)->geometry(), QRect(236, 0, 117, 21));
    EXPECT_EQ(rig.window.picture2()->geometry(), QRect(4, 156, 349, 41));
    EXPECT_EQ(rig.window.logo()->geometry(), QRect(0, -4, 385, 41));
}

TEST(Layout, DesignTimeTextsAndLook) {
    Rig rig;
    EXPECT_EQ(rig.window.widget()->windowTitle(), QString("Selvatro"));
    EXPECT_EQ(rig.window.heading(0)->text(), QString::fromUtf8("Programmes qui seront exécutés"));
    EXPECT_EQ(rig.window.heading(1)->text(), QString::fromUtf8("Délais(sec.)"));
    EXPECT_EQ(rig.window.edit({true, 3})->toolTip(),
              QString::fromUtf8("Entrez ici le chemin d'accès au programme à démarrer"));
    EXPECT_EQ(rig.window.edit({false, 0})->toolTip(),
              QString::fromUtf8("Entrez ici le délais (en secondes) après l'ouverture de Windows"));
    EXPECT_TRUE(rig.window.edit({false, 0})->alignment().testFlag(Qt::AlignHCenter));
    const QFont heading = rig.window.heading(0)->font();
    EXPECT_TRUE(heading.bold());
    EXPECT_DOUBLE_EQ(heading.pointSizeF(), 9.75);
    EXPECT_TRUE(rig.window.widget()->windowIcon().availableSizes().contains(QSize(32, 32)));
}

TEST(Layout, ColoursAsPainted) {
    Rig rig;
    rig.showNormal();
    QWidget* form = rig.window.widget();
    const QImage shot = form->grab().toImage();
    const QColor grey(192, 192, 192), cyan(192, 255, 255), yellow(255, 255, 192);
    EXPECT_EQ(shot.pixelColor(2, 150), grey) << "background";
    EXPECT_EQ(shot.pixelColor(322, 30), grey) << "the gap between a path box and its delay box";
    for (int row = 0; row < 5; ++row) {
        const int y = 22 + 26 * row + 11;
        EXPECT_EQ(shot.pixelColor(300, y), cyan) << "Text1(" << row << ")";
        EXPECT_EQ(shot.pixelColor(328, y), yellow) << "Text2(" << row << ")";
    }
    // The headings are written in the palette's highlight colour: their darkest strokes come close to it.
    const QColor highlight = QApplication::palette().color(QPalette::Highlight);
    for (int heading = 0; heading < 2; ++heading) {
        const QRect area = rig.window.heading(heading)->geometry();
        int nearest = 1000;
        for (int x = area.left(); x <= area.right(); ++x) {
            for (int y = area.top(); y <= area.bottom(); ++y) {
                const QColor c = shot.pixelColor(x, y);
                nearest =
                    std::min(nearest, std::abs(c.red() - highlight.red()) + std::abs(c.green() - highlight.green()) +
                                          std::abs(c.blue() - highlight.blue()));
            }
        }
        EXPECT_LT(nearest, 60) << "heading " << heading;
    }
    // The banner fills the logo's frame, clipped at its right edge, and leaves the frame's bottom 4 pixels (the
    // logo starts 4 pixels above the frame) in the window's grey.
    EXPECT_NE(shot.pixelColor(6, 158), grey);
    EXPECT_NE(shot.pixelColor(351, 190), grey);
    EXPECT_EQ(shot.pixelColor(351, 194), grey);
    EXPECT_EQ(shot.pixelColor(354, 180), grey);
}

TEST(Layout, TabOrderRunsRowByRowThenToTheLogo) {
    Rig rig;
    rig.showNormal();
    rig.text1(0).setFocus();
    std::vector<QWidget*> expected;
    for (int row = 0; row < 5; ++row) {
        expected.push_back(rig.window.edit({true, row}));
        expected.push_back(rig.window.edit({false, row}));
    }
    expected.push_back(rig.window.picture2());
    expected.push_back(rig.window.edit({true, 0}));  // and round again
    std::vector<QWidget*> seen{QApplication::focusWidget()};
    for (std::size_t i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(seen, expected);
}

TEST(Mouse, MovesRaiseTheEventOfThePartUnderThePointer) {
    Rig rig;
    rig.showNormal();
    QWidget* form = rig.window.widget();
    struct Case {
        QPoint at;  // in the window
        Events expected;
    };
    const Case cases[] = {
        {{2, 100}, {"Form_MouseMove"}},
        {{100, 30}, {"Text1_MouseMove(0)"}},
        {{330, 136}, {"Text2_MouseMove(4)"}},
        {{40, 8}, {"Aff_Programme_MouseMove(0)"}},
        {{300, 8}, {"Aff_Programme_MouseMove(1)"}},
        {{100, 170}, {"Image_Tovrel_MouseMove"}},
        {{100, 195}, {}},  // the logo's frame below the logo: nothing, not even the background's event
    };
    QTest::mouseMove(form, QPoint(200, 199));
    for (const Case& c : cases) {
        rig.recorder.events.clear();
        QTest::mouseMove(form, c.at);
        EXPECT_EQ(rig.recorder.events, c.expected) << "at " << c.at.x() << "," << c.at.y();
    }
}

TEST(Mouse, ClickOnAPathBoxRaisesItsClickOnceTheBoxHasTheFocus) {
    Rig rig;
    rig.showNormal();
    rig.text2(0).setFocus();
    QWidget* focusedDuringClick = nullptr;
    rig.recorder.hook = [&](const std::string& e) {
        if (e == "Text1_Click(3)") {
            focusedDuringClick = QApplication::focusWidget();
        }
    };
    rig.recorder.events.clear();
    QTest::mouseClick(rig.window.edit({true, 3}), Qt::LeftButton);
    EXPECT_EQ(rig.recorder.only("Text"), (Events{"Text2_LostFocus(0)", "Text1_Click(3)"}));
    EXPECT_EQ(focusedDuringClick, rig.window.edit({true, 3}));
    // A delay box has no click event.
    rig.recorder.events.clear();
    QTest::mouseClick(rig.window.edit({false, 3}), Qt::LeftButton);
    EXPECT_EQ(rig.recorder.only("Text1_Click"), Events{});
}

TEST(Mouse, ClickOnTheLogoRaisesItsClickAndTakesTheFocusToItsFrame) {
    Rig rig;
    rig.showNormal();
    rig.text1(1).setFocus();
    rig.recorder.events.clear();
    QTest::mouseClick(rig.window.logo(), Qt::LeftButton, {}, QPoint(50, 20));
    EXPECT_EQ(rig.recorder.only("Text1_LostFocus"), Events{"Text1_LostFocus(1)"});
    EXPECT_EQ(rig.recorder.only("Image_Tovrel_Click"), Events{"Image_Tovrel_Click"});
    EXPECT_EQ(QApplication::focusWidget(), rig.window.picture2());
}

TEST(Mouse, ThePointerIsTheWindowsOwn) {
    Rig rig;
    rig.driver.setMousePointer(platform::MousePointer::Custom);
    const QCursor custom = rig.window.widget()->cursor();
    EXPECT_EQ(custom.shape(), Qt::BitmapCursor);
    EXPECT_EQ(custom.pixmap().size(), QSize(32, 32));
    EXPECT_EQ(rig.window.logo()->cursor().shape(), Qt::BitmapCursor) << "the logo shows the window's pointer";
    rig.driver.setMousePointer(platform::MousePointer::Default);
    EXPECT_EQ(rig.window.widget()->cursor().shape(), Qt::ArrowCursor);
}

TEST(Selection, RunsFromTheCaretInCharacters) {
    Rig rig;
    TextBox& box = rig.text1(0);
    BoxEdit* edit = rig.window.edit({true, 0});
    box.setText("/opt/𝄞é/x");  // a character outside the basic plane counts once
    box.setSelectionLength(100);
    EXPECT_EQ(edit->selectedText(), QString::fromUtf8("/opt/𝄞é/x")) << "the loader leaves the caret at 0";
    edit->setCursorPosition(5);
    box.setSelectionLength(2);
    EXPECT_EQ(edit->selectedText(), QString::fromUtf8("𝄞é"));
}

}  // namespace
}  // namespace selvatro::platform::qt::test
