#include "app/photos/photo_commands.h"

namespace quillon {

void AppendPhotos(TPhotoThumbPanel &Panel, const std::vector<std::string> &Paths)
{
    for (const std::string &path : Paths)
        Panel.ThumbItems()->Add()->SetFileName(path);
}

void DeleteSelectedPhoto(TPhotoThumbPanel &Panel)
{
    const int k = Panel.SelectedIndex();
    if (k < 0)
        return;
    // The panel's own deletion hook has already moved the selection back by one
    // when it was above 0; this write, from the index read before, settles it
    // and lays the panel out again without the removed cell.
    Panel.ThumbItems()->Delete(k);
    Panel.SetSelectedIndex(k > 0 ? k - 1 : 0);
}

void DeleteAllPhotos(TPhotoThumbPanel &Panel)
{
    Panel.ThumbItems()->Clear();
    Panel.ArrangeThumbs();
}

std::vector<std::string> PhotoList(const TPhotoThumbPanel &Panel)
{
    const TThumbItems *items = Panel.ThumbItems();
    std::vector<std::string> list;
    list.reserve(static_cast<std::size_t>(items->Count()));
    for (int i = 0; i < items->Count(); ++i)
        list.push_back(items->Items(i)->FileName());
    return list;
}

std::string PhotoCountText(int Count)
{
    return std::to_string(Count) + " photo(s) total.";
}

} // namespace quillon
