#include "app/ui/movie_length.h"

#include "app/job/job.h"
#include "app/ui/mainunit.h"

#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace quillon {

std::string MovieLengthText(std::int64_t Seconds)
{
    Seconds = std::max<std::int64_t>(Seconds, 0);
    char text[64];
    std::snprintf(text, sizeof text, "Movie length: %lld min %02d s",
                  static_cast<long long>(Seconds / 60), static_cast<int>(Seconds % 60));
    return text;
}

TMovieLength::TMovieLength(TMainForm &Form)
    : FForm(Form)
{
    lblMovieLength = new forms::TLabel(FForm.pnl3_pnlOutput);
    lblMovieLength->SetTransparent(true);
    // Beside the interval box, however wide its font makes it.
    lblMovieLength->move(std::max(155, FForm.edtInterval->geometry().right() + 13), 15);
    lblMovieLength->show();
    connect(FForm.edtInterval, &QLineEdit::textChanged, this, [this] { Update(); });
    // Every change of the list passes the collection's hook; the length is
    // worked out once the change is over.
    TThumbItems *items = FForm.PhotoThumbPanel1->ThumbItems();
    FPanelHook = items->OnItemNotify;
    items->OnItemNotify
        = [this](forms::TCollectionItem *Item, forms::TCollectionNotification Action) {
              if (FPanelHook)
                  FPanelHook(Item, Action);
              if (FPending)
                  return;
              FPending = true;
              QTimer::singleShot(0, this, [this] { Update(); });
          };
    Update();
}

TMovieLength::~TMovieLength()
{
    FForm.PhotoThumbPanel1->ThumbItems()->OnItemNotify = FPanelHook;
}

void TMovieLength::Update()
{
    FPending = false;
    const int interval = FForm.edtInterval->CheckValue(IntervalValue(FForm.edtInterval->Text()));
    const int photos = FForm.PhotoThumbPanel1->ThumbItems()->Count();
    lblMovieLength->SetCaption(MovieLengthText(photos > 0 ? TotalSeconds(photos, interval) : 0));
}

} // namespace quillon
