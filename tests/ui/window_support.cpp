#include "window_support.h"

#include "app/photos/photo_commands.h"

#include "pictures.h"
#include "qtwidgets.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <filesystem>

namespace windowtest {

BoxScript::BoxScript()
{
    previous_ = win32::SetMessageBoxHandler(
        [this](HWND, const std::string &text, const std::string &caption, UINT type) {
            const testsupport::RecordedBox box{text, caption, type, {}};
            {
                std::lock_guard lock(mutex_);
                boxes_.push_back(box);
            }
            if (onBox)
                onBox(box);
            return answer ? answer(box) : win32::DefaultButton(type);
        });
    previousTask_ = win32::SetTaskDialogHandler([this](const win32::TASKDIALOGCONFIG &config) {
        const testsupport::RecordedBox box{config.pszMainInstruction, config.pszWindowTitle, 0,
                                           config.pszContent};
        {
            std::lock_guard lock(mutex_);
            boxes_.push_back(box);
        }
        if (onBox)
            onBox(box);
        return answer ? answer(box) : config.nDefaultButton;
    });
}

BoxScript::~BoxScript()
{
    win32::SetTaskDialogHandler(std::move(previousTask_));
    win32::SetMessageBoxHandler(std::move(previous_));
}

std::vector<testsupport::RecordedBox> BoxScript::boxes() const
{
    std::lock_guard lock(mutex_);
    return boxes_;
}

std::vector<std::string> BoxScript::texts() const
{
    std::vector<std::string> texts;
    for (const auto &box : boxes())
        texts.push_back(box.text);
    return texts;
}

void BoxScript::clear()
{
    std::lock_guard lock(mutex_);
    boxes_.clear();
}

void WhenModalOpens(std::function<void(QWidget *)> work)
{
    auto *timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, work] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal && ++*tries < 500)
            return;
        timer->stop();
        timer->deleteLater();
        if (modal)
            work(modal);
        else
            ADD_FAILURE() << "no dialog opened";
    });
    timer->start();
}

void ChooseFiles(QFileDialog *dialog, const std::vector<std::string> &files)
{
    if (files.empty()) {
        dialog->reject();
        return;
    }
    const std::filesystem::path folder = std::filesystem::path(files.front()).parent_path();
    dialog->setDirectory(QString::fromStdString(folder.string()));
    QString typed;
    for (const std::string &file : files)
        typed += QStringLiteral("\"%1\" ").arg(
            QString::fromStdString(std::filesystem::path(file).filename().string()));
    auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->setText(files.size() == 1 ? QString::fromStdString(
                      std::filesystem::path(files.front()).filename().string())
                                    : typed.trimmed());
    static_cast<QDialog *>(dialog)->accept();
    if (dialog->isVisible()) {
        ADD_FAILURE() << "the dialog did not take " << edit->text().toStdString();
        dialog->reject();
    }
}

LRESULT SendCompressorList(HWND window, const std::vector<std::string> &names,
                           std::optional<std::int32_t> count, std::optional<std::size_t> slotCount)
{
    const std::size_t n = slotCount.value_or(names.size());
    std::vector<unsigned char> block(4 + 255 * n, 0);
    const std::int32_t field = count.value_or(static_cast<std::int32_t>(names.size()));
    std::memcpy(block.data(), &field, 4);
    for (std::size_t k = 0; k < names.size() && k < n; ++k)
        std::memcpy(block.data() + 4 + 255 * k, names[k].data(),
                    std::min<std::size_t>(names[k].size(), 255));
    win32::COPYDATASTRUCT data{7, static_cast<DWORD>(block.size()), block.data()};
    return win32::SendMessageA(window, win32::WM_COPYDATA, 1234, reinterpret_cast<LPARAM>(&data));
}

bool WaitUntil(const std::function<bool()> &done, int ms)
{
    return QTest::qWaitFor(done, ms);
}

void MainFormTest::SetUp()
{
    form = std::make_unique<quillon::TMainForm>();
    testsupport::ShowWindow(form.get());
}

void MainFormTest::TearDown()
{
    if (form) {
        EXPECT_TRUE(WaitUntil([&] { return !form->RunActive(); }));
        form.reset();
    }
}

std::string MainFormTest::Jpeg(const std::string &name, int width, int height, int seed)
{
    const std::string path = dir.file(name);
    testsupport::WriteJpeg(path, width, height, testsupport::Gradient(seed));
    return path;
}

std::string MainFormTest::Bmp(const std::string &name, int width, int height, int seed)
{
    const std::string path = dir.file(name);
    testsupport::WriteBmp24(path, width, height, testsupport::Gradient(seed));
    return path;
}

void MainFormTest::AddFiles(const std::vector<std::string> &files)
{
    WhenDialogOpens<QFileDialog>([files](QFileDialog *dialog) { ChooseFiles(dialog, files); });
    form->pnl1_btnAddClick(nullptr);
    WaitForAdd();
}

void MainFormTest::AddFolder(const std::string &folder)
{
    folders.add(folder);
    form->pnl1_btnAddFolderClick(nullptr);
    WaitForAdd();
}

std::vector<std::string> MainFormTest::List() const
{
    return quillon::PhotoList(*form->PhotoThumbPanel1);
}

int MainFormTest::Selected() const
{
    return form->PhotoThumbPanel1->SelectedIndex();
}

std::string MainFormTest::Status() const
{
    return form->sb_status->Caption();
}

void MainFormTest::WaitForAdd()
{
    EXPECT_TRUE(WaitUntil([&] { return !form->Adding(); }));
}

} // namespace windowtest
