#pragma once

// The five program rows and their file: the loader that fills the boxes at start, and Quitter, the one way out,
// which writes the boxes back and ends the process.

#include "platform/file_rules.h"

namespace selvatro::window {
class Form;
}

namespace selvatro::list {

/// Where the list file is read and written (SettleListPlace), settled at the first call and kept in ListFile.
const platform::ListPlace& ListFilePlace(window::Form& form);

/// Reads the list file, when there is one, into the ten boxes, with Chargement held at 1 meanwhile, and remembers
/// what it found in ListAtLoad. A file that ends early loads the rows read so far. A file that cannot be read (locked
/// by another program, no permission, NULs that no text holds) loads what could be read, if anything, and the user
/// is told that it will be left as it is.
void LoadList(window::Form& form);

/// Notes that a box's text has changed; changes while the loader fills the boxes are the file's, not the user's.
void NoteRowChange(window::Form& form);

/// Writes the ten box texts, as they stand, to the list file and ends the process with `exitStatus`. A save that
/// fails leaves the old file whole; the user is told, naming the file, and the process ends all the same, with a
/// failure status. Where the user has changed no row since the load, a list file that could not be read at start,
/// or that has changed on disk since (a hand edit while the count ran), is left as it is.
[[noreturn]] void Quitter(window::Form& form, int exitStatus = 0);

}  // namespace selvatro::list
