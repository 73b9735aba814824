#include "platform/tamsik/tamsik.h"

#include "platform/media/compressors.h"
#include "platform/media/dshow.h"
#include "platform/tamsik/settings_dialog.h"
#include "platform/win32/strings.h"
#include "platform/win32/window.h"

#include <QApplication>
#include <QMetaObject>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kSlot = 255;

// The friendly names, in the order in which the system device enumerator lists
// the video compressor category.
std::vector<std::string> CategoryNames()
{
    std::vector<std::string> names;
    ComPtr<ICreateDevEnum> devices;
    if (FAILED(media::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_ICreateDevEnum, devices.PutVoid())))
        throw std::runtime_error("no system device enumerator");
    ComPtr<IEnumMoniker> monikers;
    if (FAILED(devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, monikers.Put(), 0)))
        throw std::runtime_error("no class enumerator");
    if (!monikers)
        return names; // an empty category
    for (;;) {
        ComPtr<IMoniker> moniker;
        if (monikers->Next(1, moniker.Put(), nullptr) != S_OK || !moniker)
            break;
        std::string name;
        ComPtr<IPropertyBag> bag;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid()))) {
            VARIANT value;
            media::VariantInit(&value);
            if (SUCCEEDED(bag->Read(u"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR
                && value.bstrVal)
                name = win32::WideToAnsi(
                    std::u16string(value.bstrVal, media::SysStringLen(value.bstrVal)));
            media::VariantClear(&value);
        }
        // A compressor keeps its place even without a name, so that positions
        // still count as the renderer counts them.
        names.push_back(std::move(name));
    }
    return names;
}

std::vector<unsigned char> ListBlock(const std::vector<std::string> &names)
{
    std::vector<unsigned char> block(4 + kSlot * names.size(), 0);
    const auto n = static_cast<std::uint32_t>(names.size());
    for (int i = 0; i < 4; ++i)
        block[i] = static_cast<unsigned char>(n >> (8 * i));
    for (std::size_t k = 0; k < names.size(); ++k)
        std::memcpy(block.data() + 4 + kSlot * k, names[k].data(),
                    std::min(names[k].size(), kSlot));
    return block;
}

QWidget *OwnerOf(HWND window)
{
    if (auto *owner = static_cast<QWidget *>(win32::GetPropA(window, "QWidget")))
        return owner;
    return QApplication::activeWindow();
}

BOOL Configure(HWND window, int index)
{
    const std::vector<media::CompressorEntry> &category = media::VideoCompressorCategory();
    if (index < 0 || static_cast<std::size_t>(index) >= category.size())
        return FALSE;
    const media::CompressorEntry &entry = category[static_cast<std::size_t>(index)];
    const media::CompressorSettings shown = media::ReadCompressorSettings(entry);
    tamsik::SettingsDialog dialog(entry, shown, OwnerOf(window));
    if (dialog.exec() != QDialog::Accepted)
        return TRUE;
    // Only what was changed here: another window may have saved the others
    // while this dialog was open.
    return media::WriteCompressorSettings(entry, dialog.Settings(), &shown) ? TRUE : FALSE;
}

} // namespace

extern "C" {

int GetCompressorsList(HWND window)
{
    try {
        const std::vector<std::string> names = CategoryNames();
        std::vector<unsigned char> block = ListBlock(names);
        win32::COPYDATASTRUCT data{0, static_cast<DWORD>(block.size()), block.data()};
        win32::SendMessageA(window, win32::WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
        return static_cast<int>(names.size());
    } catch (...) {
        return -1;
    }
}

BOOL setCompressorProperty(HWND window, int index)
{
    try {
        auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
        if (!app)
            return FALSE;
        if (QThread::currentThread() == app->thread())
            return Configure(window, index);
        BOOL result = FALSE;
        QMetaObject::invokeMethod(
            app,
            [&] {
                try {
                    result = Configure(window, index);
                } catch (...) {
                    result = FALSE;
                }
            },
            Qt::BlockingQueuedConnection);
        return result;
    } catch (...) {
        return FALSE;
    }
}
}
