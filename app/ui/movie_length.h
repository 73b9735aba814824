// The movie's length at a glance: the Output view shows how long the movie of
// the photo list and the interval as they stand will run, and follows both.
#pragma once

#include "platform/forms/classes.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <string>

namespace forms {
class TLabel;
}

namespace quillon {

class TMainForm;

// "Movie length: 1 min 05 s" for the seconds of a movie; a list without photos
// makes no movie: "Movie length: 0 min 00 s".
std::string MovieLengthText(std::int64_t Seconds);

class TMovieLength : public QObject
{
public:
    explicit TMovieLength(TMainForm &Form);
    // Gives the collection its hook back.
    ~TMovieLength() override;

    forms::TLabel *lblMovieLength;

    // Works the length out again from the list and the interval box.
    void Update();

private:
    TMainForm &FForm;
    std::function<void(forms::TCollectionItem *, forms::TCollectionNotification)> FPanelHook;
    bool FPending = false;
};

} // namespace quillon
