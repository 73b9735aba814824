// What the photo list commands do to the list, apart from the dialogs that ask
// for the photos: append, remove the selected photo, remove all, and read the
// list back in slide order.
#pragma once

#include "app/photos/PhotoThumbPanel.h"

#include <string>
#include <vector>

namespace quillon {

// Appends one entry per path, in order, and writes its FileName, which makes the
// thumbnail. A photo that cannot be read raises its error there: its entry
// stays with the path set and an empty thumbnail, the paths after it are not
// added.
void AppendPhotos(TPhotoThumbPanel &Panel, const std::vector<std::string> &Paths);

// Removes the selected photo and selects the one before it (the one that
// followed it when photo 0 was removed; none when the list is now empty).
// Nothing happens while no photo is selected.
void DeleteSelectedPhoto(TPhotoThumbPanel &Panel);

// Empties the list and runs the layout pass, which leaves no selection.
void DeleteAllPhotos(TPhotoThumbPanel &Panel);

// Every entry's FileName, in slide order.
std::vector<std::string> PhotoList(const TPhotoThumbPanel &Panel);

// The status text of the add-folder command: "%d photo(s) total.".
std::string PhotoCountText(int Count);

} // namespace quillon
