// The system device enumerator over the video compressor category, and the
// compressors' per-user settings.
#include "media_support.h"
#include "platform/media/compressors.h"
#include "platform/win32/ini.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

using namespace mediatest;

namespace {

// Sets an environment variable for the life of the object.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const char *value)
        : name_(name)
    {
        if (const char *old = std::getenv(name)) {
            had_ = true;
            old_ = old;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (had_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char *name_;
    bool had_ = false;
    std::string old_;
};

ComPtr<IEnumMoniker> VideoCompressors()
{
    ComPtr<ICreateDevEnum> devices;
    media::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                            IID_ICreateDevEnum, devices.PutVoid());
    ComPtr<IEnumMoniker> monikers;
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, monikers.Put(), 0),
              S_OK);
    return monikers;
}

std::string FriendlyName(IMoniker *moniker)
{
    ComPtr<IPropertyBag> bag;
    EXPECT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid()), S_OK);
    VARIANT var;
    media::VariantInit(&var);
    EXPECT_EQ(bag->Read(u"FriendlyName", &var, nullptr), S_OK);
    EXPECT_EQ(var.vt, VT_BSTR);
    std::u16string wide(var.bstrVal, media::SysStringLen(var.bstrVal));
    media::VariantClear(&var);
    return std::string(wide.begin(), wide.end());
}

class Category : public ::testing::Test
{
protected:
    void TearDown() override { EXPECT_EQ(media::LiveComObjects(), 0); }
    testsupport::TempDir dir;
};

} // namespace

TEST_F(Category, ListsTheAvailableEncodersInTheFixedOrder)
{
    const std::vector<std::string> order
        = {"mpeg4",    "libxvid", "libx264",  "mjpeg",   "huffyuv",    "ffv1",
           "msvideo1", "cinepak", "rawvideo", "libx265", "libvpx-vp9", "libsvtav1"};
    const auto &category = media::VideoCompressorCategory();
    ASSERT_FALSE(category.empty());
    // The entries keep the fixed order, whichever are missing here.
    std::size_t at = 0;
    std::set<std::string> names;
    for (const auto &entry : category) {
        auto it = std::find(order.begin() + at, order.end(), entry.key);
        ASSERT_NE(it, order.end()) << entry.key << " out of order";
        at = it - order.begin() + 1;
        EXPECT_LE(entry.friendlyName.size(), 254u);
        EXPECT_TRUE(names.insert(entry.friendlyName).second) << entry.friendlyName;
        EXPECT_EQ(avcodec_find_encoder_by_name(entry.key.c_str()) != nullptr, true);
    }
    // Debian's FFmpeg has the MPEG-4 encoder, and the program prefers it by this text.
    EXPECT_EQ(category[0].key, "mpeg4");
    EXPECT_NE(category[0].friendlyName.find("DivX? 5"), std::string::npos);
    EXPECT_EQ(media::FourccText(category[0].fourcc), "DX50");
}

TEST_F(Category, EachContainerCarriesWhatItsPlayersPlay)
{
    using media::Container;
    // Per entry: AVI, MP4, Matroska, WebM.
    const std::map<std::string, std::string> carried = {
        {"mpeg4", "111-"},    {"libxvid", "111-"}, {"libx264", "111-"},    {"mjpeg", "1-1-"},
        {"huffyuv", "1---"},  {"ffv1", "1---"},    {"msvideo1", "1---"},   {"cinepak", "1---"},
        {"rawvideo", "1---"}, {"libx265", "-11-"}, {"libvpx-vp9", "-111"}, {"libsvtav1", "-111"}};
    const auto &category = media::VideoCompressorCategory();
    for (const auto &entry : category) {
        std::string row;
        for (Container c : {Container::Avi, Container::Mp4, Container::Matroska, Container::WebM}) {
            row += media::ContainerCarries(c, entry) ? '1' : '-';
            EXPECT_EQ(media::ContainerRefusal(c, entry).empty(), media::ContainerCarries(c, entry));
        }
        EXPECT_EQ(row, carried.at(entry.key)) << entry.key;
    }
    // The refusal names the container, the compressor and what the container takes.
    const std::string refusal = media::ContainerRefusal(Container::WebM, category[0]);
    EXPECT_TRUE(refusal.starts_with("WebM movies cannot carry the video compressor \""
                                    + category[0].friendlyName + "\"; they take "))
        << refusal;
    for (const auto &entry : category)
        EXPECT_EQ(refusal.find(entry.friendlyName) != std::string::npos,
                  &entry == &category[0] || media::ContainerCarries(Container::WebM, entry))
            << entry.friendlyName;
}

TEST_F(Category, TheEnumeratorYieldsTheSameEntriesWithTheirNames)
{
    const auto &category = media::VideoCompressorCategory();
    ComPtr<IEnumMoniker> monikers = VideoCompressors();
    ASSERT_TRUE(monikers);
    ComPtr<IMoniker> moniker;
    std::size_t n = 0;
    while (monikers->Next(1, moniker.Put(), nullptr) == S_OK) {
        ASSERT_LT(n, category.size());
        EXPECT_EQ(FriendlyName(moniker.Get()), category[n].friendlyName);
        ++n;
    }
    EXPECT_EQ(n, category.size());
    EXPECT_FALSE(moniker);

    // Several at once, skipping, and starting again.
    monikers->Reset();
    IMoniker *two[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(monikers->Next(2, two, &fetched), S_OK);
    EXPECT_EQ(fetched, 2u);
    for (IMoniker *m : two)
        m->Release();
    EXPECT_EQ(monikers->Skip(1000), S_FALSE);
    EXPECT_EQ(monikers->Next(2, two, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    monikers->Reset();
    ASSERT_EQ(monikers->Next(1, moniker.Put(), nullptr), S_OK);
    EXPECT_NE(FriendlyName(moniker.Get()).find("DivX? 5"), std::string::npos);

    ComPtr<IPropertyBag> bag;
    moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid());
    VARIANT var;
    media::VariantInit(&var);
    EXPECT_EQ(bag->Read(u"FccHandler", &var, nullptr), S_OK);
    EXPECT_EQ(std::u16string(var.bstrVal), u"DX50");
    media::VariantClear(&var);
    EXPECT_EQ(bag->Read(u"NoSuchProperty", &var, nullptr), E_INVALIDARG);
}

TEST_F(Category, OtherCategoriesAreEmpty)
{
    ComPtr<ICreateDevEnum> devices;
    media::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, 7, IID_ICreateDevEnum,
                            devices.PutVoid());
    ComPtr<IEnumMoniker> monikers;
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_AudioCompressorCategory, monikers.Put(), 0),
              S_FALSE);
    EXPECT_FALSE(monikers);
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, nullptr, 0), E_POINTER);
}

TEST_F(Category, EveryMonikerBindsToACompressorWithOneInputAndOneOutput)
{
    ComPtr<IEnumMoniker> monikers = VideoCompressors();
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.Put(), nullptr) == S_OK) {
        const std::string name = FriendlyName(moniker.Get());
        ComPtr<IBaseFilter> filter;
        ASSERT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.PutVoid()), S_OK)
            << name;
        // Each bind makes a new filter.
        ComPtr<IBaseFilter> other;
        moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, other.PutVoid());
        EXPECT_NE(filter.Get(), other.Get());

        EXPECT_TRUE(PinOf(filter.Get(), PINDIR_INPUT, 0)) << name;
        EXPECT_TRUE(PinOf(filter.Get(), PINDIR_OUTPUT, 0)) << name;
        EXPECT_FALSE(PinOf(filter.Get(), PINDIR_INPUT, 1)) << name;
        EXPECT_FALSE(PinOf(filter.Get(), PINDIR_OUTPUT, 1)) << name;

        FILTER_INFO info;
        ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
        EXPECT_EQ(info.pGraph, nullptr);
        std::u16string wide(info.achName);
        EXPECT_EQ(std::string(wide.begin(), wide.end()), name);

        void *nothing = nullptr;
        EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IMediaControl, &nothing),
                  E_NOINTERFACE);
        EXPECT_EQ(nothing, nullptr);
    }
}

TEST_F(Category, SettingsFileFollowsTheXdgRules)
{
    {
        ScopedEnv config("XDG_CONFIG_HOME", "/somewhere/config/");
        EXPECT_EQ(media::CompressorSettingsPath(), "/somewhere/config/quillon/compressors.ini");
    }
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv config("XDG_CONFIG_HOME", nullptr);
        EXPECT_EQ(media::CompressorSettingsPath(), "/home/someone/.config/quillon/compressors.ini");
    }
    {
        // Relative and empty values do not count.
        ScopedEnv config("XDG_CONFIG_HOME", "relative/config");
        EXPECT_EQ(media::CompressorSettingsPath(), "/home/someone/.config/quillon/compressors.ini");
        ScopedEnv empty("XDG_CONFIG_HOME", "");
        EXPECT_EQ(media::CompressorSettingsPath(), "/home/someone/.config/quillon/compressors.ini");
    }
}

TEST_F(Category, SettingsAreReadWithDefaultsAndRanges)
{
    ScopedEnv config("XDG_CONFIG_HOME", dir.path().c_str());
    const auto &category = media::VideoCompressorCategory();
    const media::CompressorEntry &divx = category[0];
    ASSERT_TRUE(divx.hasQuality && divx.hasKeyFrames);

    // No file: the defaults.
    media::CompressorSettings s = media::ReadCompressorSettings(divx);
    EXPECT_EQ(s.quality, divx.defaultQuality);
    EXPECT_EQ(s.keyFrameInterval, divx.defaultKeyFrameInterval);

    // Written, the folder made on the way, and read back.
    ASSERT_TRUE(media::WriteCompressorSettings(divx, {40, 12}));
    EXPECT_TRUE(testsupport::Exists(dir.file("quillon/compressors.ini")));
    s = media::ReadCompressorSettings(divx);
    EXPECT_EQ(s.quality, 40);
    EXPECT_EQ(s.keyFrameInterval, 12);

    // Values out of range are brought in; values that are no numbers fall back.
    const std::string path = media::CompressorSettingsPath();
    win32::WritePrivateProfileStringA(divx.key, "Quality", "250", path);
    win32::WritePrivateProfileStringA(divx.key, "KeyFrameInterval", "0", path);
    s = media::ReadCompressorSettings(divx);
    EXPECT_EQ(s.quality, 100);
    EXPECT_EQ(s.keyFrameInterval, 1);
    win32::WritePrivateProfileStringA(divx.key, "Quality", "high", path);
    win32::WritePrivateProfileStringA(divx.key, "KeyFrameInterval", "100000", path);
    s = media::ReadCompressorSettings(divx);
    EXPECT_EQ(s.quality, divx.defaultQuality);
    EXPECT_EQ(s.keyFrameInterval, media::kMaxKeyFrameInterval);

    // Another entry's section is its own.
    if (category.size() > 1) {
        EXPECT_EQ(media::ReadCompressorSettings(category[1]).quality, category[1].defaultQuality);
    }
}

// Two programs saving compressor settings at once: each sees only its own
// changes come back, none written over by the other's copy of the file.
TEST_F(Category, SettingsSavedByTwoProgramsAtOnceAreAllKept)
{
    ScopedEnv config("XDG_CONFIG_HOME", dir.path().c_str());
    const auto &category = media::VideoCompressorCategory();
    ASSERT_GE(category.size(), 2u);
    pid_t children[2];
    for (int k = 0; k < 2; ++k) {
        children[k] = ::fork();
        if (children[k] == 0) {
            const media::CompressorEntry &mine = category[static_cast<std::size_t>(k)];
            int lost = 0;
            for (int i = 1; i <= 400; ++i) {
                if (i > 1 && media::ReadCompressorSettings(mine).quality != (i - 1) % 100)
                    ++lost;
                if (!media::WriteCompressorSettings(mine, {i % 100, 10}))
                    ::_exit(255);
            }
            ::_exit(std::min(lost, 254));
        }
    }
    for (const pid_t child : children) {
        int status = -1;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "lost: " << status;
    }
}

TEST_F(Category, SettingsThatCannotBeWrittenSaySo)
{
    testsupport::WriteFile(dir.file("file"), "x");
    ScopedEnv config("XDG_CONFIG_HOME", dir.file("file").c_str());
    EXPECT_FALSE(media::WriteCompressorSettings(media::VideoCompressorCategory()[0], {50, 10}));

    // On a full disk the settings stay as they were, all of them: here the
    // new quality alone would still fit, the key frame interval added after
    // it would not.
    if (::geteuid() != 0)
        return;
    const std::string small = dir.file("small");
    const testsupport::SmallFileSystem disk(small, 65536, false, 0755);
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.why();
    ScopedEnv onDisk("XDG_CONFIG_HOME", small.c_str());
    const media::CompressorEntry &entry = media::VideoCompressorCategory()[0];
    std::string old = "[" + entry.key + "]\r\nQuality=5\r\n[padding]\r\nx=";
    old += std::string(4090 - old.size() - 2, 'x') + "\r\n";
    testsupport::MakeFolder(small + "/quillon");
    testsupport::WriteFile(small + "/quillon/compressors.ini", old);
    ASSERT_TRUE(disk.fill(4096));
    EXPECT_FALSE(media::WriteCompressorSettings(entry, {40, 12}));
    EXPECT_EQ(testsupport::ReadFile(small + "/quillon/compressors.ini"), old);
}
