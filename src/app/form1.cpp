#include "app/form1.h"

#include "app/langage.h"
#include "desktop/publisher.h"
#include "desktop/raccourci.h"
#include "editor/picker.h"
#include "editor/row_rules.h"
#include "list/list.h"
#include "sequencer/sequencer.h"
#include "window/hover.h"

namespace selvatro {

void Form1::Form_Load() {
    if (Langage::Langue_Utilisateur(Language()) == "French") {
        Francais = 1;
    }
    // The shortcut's folder and link names follow the language, so it comes right after the choice.
    desktop::Raccourci(*this);
    if (Francais == 0) {
        Window().setCaption("Selvatro");
        Aff_Programme(0).setCaption("Programs to be  started");
        Aff_Programme(1).setCaption("Delay(sec.)");
        CommonDialog1().setTitle("Choose the application to be started");
    }
    list::LoadList(*this);
    // Nothing to start: show the list so that the user can fill it in.
    if (Text1(0).text().empty()) {
        Window().setWindowState(platform::WindowState::Normal);
    }
}

void Form1::Form_Unload(std::int16_t& /*Cancel*/) {
    list::Quitter(*this);
}

void Form1::Form_Resize() {
    sequencer::Form_Resize(*this);
}
void Form1::Timer1_Timer() {
    sequencer::Timer1_Timer(*this);
}

void Form1::Text1_Change(std::int16_t Index) {
    list::NoteRowChange(*this);
    editor::Text1_Change(*this, Index);
}
void Form1::Text2_Change(std::int16_t Index) {
    list::NoteRowChange(*this);
    editor::Text2_Change(*this, Index);
}
void Form1::Text1_LostFocus(std::int16_t Index) {
    editor::Text1_LostFocus(*this, Index);
}
void Form1::Text2_LostFocus(std::int16_t Index) {
    editor::Text2_LostFocus(*this, Index);
}
void Form1::Text1_Click(std::int16_t Index) {
    editor::Text1_Click(*this, Index);
}

void Form1::Form_MouseMove() {
    window::Form_MouseMove(*this);
}
void Form1::Image_Tovrel_MouseMove() {
    window::Image_Tovrel_MouseMove(*this);
}
void Form1::Text1_MouseMove(std::int16_t Index) {
    window::Text1_MouseMove(*this, Index);
}
void Form1::Text2_MouseMove(std::int16_t Index) {
    window::Text2_MouseMove(*this, Index);
}
void Form1::Aff_Programme_MouseMove(std::int16_t Index) {
    window::Aff_Programme_MouseMove(*this, Index);
}

void Form1::Image_Tovrel_Click() {
    desktop::Image_Tovrel_Click(*this);
}

}  // namespace selvatro
