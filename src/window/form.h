#pragma once

// The window's state, which every subsystem works on: its controls, the desktop's services and the form-level
// variables. State only: the events are routed to the subsystems one floor up. The ten box texts are the list;
// nothing here keeps a copy of it (only of the file it came from, to tell whether the file changed meanwhile).

#include <cstdint>
#include <string>

#include "platform/file_rules.h"
#include "platform/platform.h"

namespace selvatro::window {

/// The rows of the list, 0 at the top.
using platform::kRowCount;
inline constexpr int kLastRow = kRowCount - 1;

class Form {
public:
    Form(const platform::Controls& controls, const platform::Services& services)
        : controls_(controls), services_(services) {}

    // The controls, named as the window names them.
    platform::TextBox& Text1(int index) const { return *controls_.text1.at(static_cast<std::size_t>(index)); }
    platform::TextBox& Text2(int index) const { return *controls_.text2.at(static_cast<std::size_t>(index)); }
    platform::Label& Aff_Programme(int index) const {
        return *controls_.affProgramme.at(static_cast<std::size_t>(index));
    }
    platform::Window& Window() const { return controls_.form; }
    platform::Timer& Timer1() const { return controls_.timer1; }
    platform::FileDialog& CommonDialog1() const { return controls_.commonDialog1; }

    // The desktop's services.
    platform::MessageBoxes& Messages() const { return services_.messages; }
    platform::AppFacts& App() const { return services_.facts; }
    platform::Programs& Programs() const { return services_.programs; }
    platform::Files& Files() const { return services_.files; }
    platform::Language& Language() const { return services_.language; }
    platform::Shortcuts& Shortcuts() const { return services_.shortcuts; }
    platform::Browser& Browser() const { return services_.browser; }
    platform::Process& Process() const { return services_.process; }
    platform::LogonEntries& LogonEntries() const { return services_.logonEntries; }

    // Form-level variables: 16-bit signed integers used as 0/1 flags and counters, 0 when the window is created.
    std::int16_t Francais = 0;       ///< 1 when the user's language is French; set once at start-up
    std::int16_t Chargement = 0;     ///< 1 while the loader fills the boxes from the list file
    std::int16_t Secondes = 0;       ///< ticks counted since the window was created; never reset
    std::int16_t Dernier_Delai = 0;  ///< rounded delay of the filled row with the highest index, as last seen
    std::int16_t Arret_Demande = 0;  ///< 1 after a missing-program stop; never cleared
    std::int16_t Ligne = 0;          ///< row counter of the two lost-focus sweeps

    // The publisher page's own form-level variables.
    std::string Adresse_Web;   ///< the publisher's address, rebuilt at every click
    std::string Fichier_Temp;  ///< name of the temporary file used for the browser lookup
    std::int16_t Numero_Fichier = 0;
    std::string Chemin_Navigateur;  ///< result buffer of the browser lookup, always 255 characters once used
    std::int32_t Code_Retour = 0;   ///< result code of the latest browser lookup or start
    std::string Dossier_Vide;       ///< never assigned: "no working folder"

    // What the end of a run must know of the list file, so that it never replaces a list with rows the user did not
    // enter: the file as the loader found it, and whether the rows have changed since.
    platform::ListPlace ListFile;  ///< where the list is read and written; settled once, at the first use
    platform::FileText ListAtLoad;
    std::int16_t RowsChanged = 0;  ///< 1 once a box's text has changed after the load: an edit, the picker

    /// When the next tick is due, in the process's monotonic seconds, so that the record can say how late each
    /// start was; below 0 while the count has not begun.
    double TickDue = -1;

private:
    platform::Controls controls_;
    platform::Services services_;
};

}  // namespace selvatro::window
