// A host's view of the plug-in: the module loaded by name, the exports resolved by name, and the
// whole protocol driven through them. The same test runs against libmoxel.so and, under Wine,
// against MOXEL.dll.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/recording_host.h"
#include "common/temp_dir.h"
#include "plugin/plugin.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace {

using DllMainFn = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);
using GetTitleFn = int(WINAPI*)(int, char*, int*, int*);
using FilterProcFn = int(WINAPI*)(HWND, const ImageSize*, RowProc*, RowProc*, const char*);
using FilterOptionFn = int(WINAPI*)(HWND, const char*);

class Module {
public:
    Module() {
#ifdef _WIN32
        handle_ = LoadLibraryA(MODULE_NAME);
#else
        handle_ = dlopen(MODULE_NAME, RTLD_NOW | RTLD_LOCAL);
#endif
    }
    ~Module() {
#ifdef _WIN32
        if (handle_ != nullptr) FreeLibrary(handle_);
#else
        if (handle_ != nullptr) dlclose(handle_);
#endif
    }
    bool loaded() const { return handle_ != nullptr; }
    // What the platform hands DllMain: the module's own handle.
    HINSTANCE instance() const {
#ifdef _WIN32
        return handle_;
#else
        return static_cast<HINSTANCE>(handle_);
#endif
    }

    template <typename Fn>
    Fn Find(const char* name) const {
#ifdef _WIN32
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(handle_, name)));
#else
        return reinterpret_cast<Fn>(dlsym(handle_, name));
#endif
    }

private:
#ifdef _WIN32
    HMODULE handle_;
#else
    void* handle_;
#endif
};

class HostContract : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(module.loaded()) << "cannot load " << MODULE_NAME;
        dllMain = module.Find<DllMainFn>("DllMain");
        getTitle = module.Find<GetTitleFn>("FilterGetTitle");
        filterProc = module.Find<FilterProcFn>("FilterProc");
        filterOption = module.Find<FilterOptionFn>("FilterOption");
        ASSERT_NE(dllMain, nullptr);
        ASSERT_NE(getTitle, nullptr);
        ASSERT_NE(filterProc, nullptr);
        ASSERT_NE(filterOption, nullptr);
    }

    Module module;
    DllMainFn dllMain = nullptr;
    GetTitleFn getTitle = nullptr;
    FilterProcFn filterProc = nullptr;
    FilterOptionFn filterOption = nullptr;
};

TEST_F(HostContract, TitleIsFiveBytesAndTheValuesOneAndTen) {
    for (int first : {0, 1, -1, 0x7FFFFFFF}) {
        char title[16];
        std::memset(title, 0xCC, sizeof title);
        int one = -5, ten = -5;
        EXPECT_EQ(getTitle(first, title, &one, &ten), 1);
        EXPECT_EQ(std::string(title, 5), std::string("\x93\x5F\x89\xE6\0", 5));  // "点画"
        EXPECT_TRUE(std::all_of(title + 5, title + 16, [](char c) { return c == '\xCC'; }))
            << "wrote past the terminator";
        EXPECT_EQ(one, 1);
        EXPECT_EQ(ten, 10);
    }
}

TEST_F(HostContract, DllMainSucceedsForEveryReason) {
    for (DWORD reason :
         {DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH}) {
        EXPECT_EQ(dllMain(module.instance(), reason, nullptr), TRUE) << "reason " << reason;
    }
}

TEST_F(HostContract, RunWithoutShapesReturnsTheImageAndEndsWithTheDoneMessage) {
    TempDir dir;
    WriteFile(dir.file("moxel5.dat"), "0 4 12 0 0\n");  // density 0: no shapes
    RecordingHost host(37, 11);
    const std::vector<BYTE> original = host.image;
    EXPECT_EQ(
        filterProc(host.window, &host.size, &host.writer, &host.reader, dir.directory().c_str()),
        1);
    EXPECT_EQ(host.image, original);
    ASSERT_EQ(host.rowCalls.size(), 22u);
    for (int row = 0; row < 11; ++row) {
        EXPECT_EQ(host.rowCalls[row], (RowCall{false, row, 0, 36}));
        EXPECT_EQ(host.rowCalls[11 + row], (RowCall{true, row, 0, 36}));
    }
    EXPECT_EQ(host.messages, (std::vector<HostMessage>{{WM_USER, 0, 0}}));
}

TEST_F(HostContract, WhiteRunWritesOnlyWhite) {
    TempDir dir;
    WriteFile(dir.file("moxel5.dat"), "1 4 12 0 0\n");
    RecordingHost host(9, 4);
    EXPECT_EQ(
        filterProc(host.window, &host.size, &host.writer, &host.reader, dir.directory().c_str()),
        1);
    EXPECT_TRUE(
        std::all_of(host.image.begin(), host.image.end(), [](BYTE b) { return b == 0xFF; }));
    EXPECT_TRUE(host.WholeRowCalls(false).empty());
}

TEST_F(HostContract, OptionsWithAnInvalidParentSavesNothing) {
    TempDir dir;
#ifdef _WIN32
    HWND invalidParent = reinterpret_cast<HWND>(static_cast<UINT_PTR>(0xDEAD0));
#else
    HWND invalidParent = nullptr;  // no dialog driver is installed in this process
#endif
    EXPECT_EQ(filterOption(invalidParent, dir.directory().c_str()), 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("moxel5.dat")));
}

// The DLL's export and import tables are checked from its file by module_file_test.sh.
#ifndef _WIN32
TEST_F(HostContract, KeepsEverythingButTheExportsHidden) {
    EXPECT_EQ(module.Find<void*>("_Z12LoadSettingsPKc"), nullptr);
    EXPECT_EQ(module.Find<void*>("gSettings"), nullptr);
    EXPECT_EQ(module.Find<void*>("SendMessageA"), nullptr);
}
#endif

}  // namespace
