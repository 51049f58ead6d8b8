#pragma once

// The five program rows and their file: the loader that fills the boxes at start, and Quitter, the one way out,
// which writes the boxes back and ends the process.

#include <string>

namespace selvatro::window {
class Form;
}

namespace selvatro::list {

/// The full name of the list file: the executable's folder, a separator, the file name. Built anew at each use.
std::string ListFilePath(const window::Form& form);

/// Reads the list file, when there is one, into the ten boxes, with Chargement held at 1 meanwhile. A file that
/// cannot be read, or ends early, loads the rows read so far; the others stay as they were.
void LoadList(window::Form& form);

/// Writes the ten box texts, as they stand, to the list file and ends the process with `exitStatus`. A save that
/// fails leaves the old file whole; the user is told, naming the file, and the process ends all the same, with a
/// failure status. A list file that exists but cannot be read is left as it is while all ten boxes are empty,
/// rather than replaced by an empty list.
[[noreturn]] void Quitter(window::Form& form, int exitStatus = 0);

}  // namespace selvatro::list
