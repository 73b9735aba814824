// The standard controls of the window that the component layer leaves to Qt,
// with the framework's rules where a user would notice them: a radio group that
// lays out its items as the framework does, a spin edit that lets any text
// stand until the focus leaves it, a bevel line and the open-file dialogs.
#pragma once

#include "platform/forms/controls.h"

#include <QGroupBox>
#include <QLineEdit>

#include <string>
#include <vector>

class QRadioButton;
class QToolButton;

class QFileDialog;

namespace quillon {

// A framed group of radio buttons, one column, spread evenly under the caption.
class TRadioGroup : public QGroupBox
{
public:
    explicit TRadioGroup(QWidget *parent = nullptr);

    void SetCaption(const std::string &caption);
    void SetItems(const std::vector<std::string> &items);
    int ItemCount() const { return static_cast<int>(buttons_.size()); }
    std::string Item(int index) const;
    // Changes the caption of one item; the selection stays.
    void SetItem(int index, const std::string &caption);
    QRadioButton *Button(int index) const;

    // -1 when no item is selected.
    int ItemIndex() const { return itemIndex_; }
    // Selects the item (-1 or an index out of range selects none) and raises
    // OnClick when the selection changes.
    void SetItemIndex(int index);

    // Raised whenever the selected item changes, by mouse, keyboard or code.
    forms::TNotifyEvent OnClick;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void ArrangeButtons();
    void Toggled(int index, bool checked);

    std::vector<QRadioButton *> buttons_;
    int itemIndex_ = -1;
    bool updating_ = false;
};

// An edit box with up and down arrows for a whole number between MinValue and
// MaxValue. Any text may stand in it while it has the focus; its Value is the
// text as a decimal number, or MinValue when the text is not one. The arrows
// and the Up and Down keys step the value within the bounds, and a value out of
// bounds is replaced by the nearer bound when the focus leaves. Only digits,
// '+', '-', the decimal separator and control characters other than Enter can
// be typed; anything else is refused with a beep.
class TSpinEdit : public QLineEdit
{
public:
    explicit TSpinEdit(QWidget *parent = nullptr);

    int MinValue() const { return minValue_; }
    int MaxValue() const { return maxValue_; }
    void SetMinValue(int value) { minValue_ = value; }
    void SetMaxValue(int value) { maxValue_ = value; }
    int Increment() const { return increment_; }
    void SetIncrement(int value) { increment_ = value; }

    std::string Text() const { return text().toStdString(); }
    void SetText(const std::string &text) { setText(QString::fromStdString(text)); }

    int Value() const;
    // Writes the value, brought within the bounds, as the text.
    void SetValue(long long value);
    // The value brought within the bounds.
    int CheckValue(long long value) const;
    // What leaving the box does: a value out of bounds becomes the nearer bound.
    void ApplyBounds();

    // Whether a typed character is accepted.
    static bool IsValidChar(QChar c);

    QToolButton *UpButton() const { return up_; }
    QToolButton *DownButton() const { return down_; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void Step(int direction);

    int minValue_ = 0;
    int maxValue_ = 100;
    int increment_ = 1;
    QToolButton *up_ = nullptr;
    QToolButton *down_ = nullptr;
};

// A bevel drawn as a lowered line along the bottom of its box.
class TBevel : public QWidget
{
public:
    explicit TBevel(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// Sizes a file dialog for its content: the list in detail, wide enough that its
// name, size, type and date columns all show, within the screen.
void SizeFileDialog(QFileDialog &dialog);

// The open-file dialog: Filter in the framework's form ("description|patterns|
// description|patterns", patterns separated by ';'), a one-based FilterIndex
// that keeps the user's last choice, single or multiple selection and, for
// pictures, a preview of the file under the cursor. Patterns match without
// regard to case, as they do on the platform the filters were written for.
class TOpenDialog
{
public:
    explicit TOpenDialog(QWidget *owner);

    std::string Filter;
    int FilterIndex = 1;
    bool MultiSelect = false;
    bool PicturePreview = false;
    // Whether the preview turns a photo upright as its orientation tag says.
    bool PreviewUpright = true;
    std::string Title;

    // Shows the dialog modally; true when the user chose at least one file.
    bool Execute();
    // The chosen files with their full paths, in the order the dialog returns them.
    const std::vector<std::string> &Files() const { return files_; }
    // The first chosen file; "" before a choice.
    std::string FileName() const { return files_.empty() ? std::string() : files_.front(); }

private:
    QWidget *owner_;
    std::vector<std::string> files_;
    QString folder_;
};

// The dialog's name filters in Qt's form for a filter of the framework's form.
QStringList NameFiltersOf(const std::string &filter);

} // namespace quillon
