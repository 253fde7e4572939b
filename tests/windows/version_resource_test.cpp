// The version resource of Tolvenmire.asi, read back through Windows' own version
// API as Explorer's file properties, a mod manager or a bug report read it: the
// language block the file names, the name and version strings, and the numeric
// version, all equal to the version the build was made with (project()).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<char> versionInfo(const char* file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(file, &ignored);
    if (size == 0) return {};
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(file, 0, size, block.data())) return {};
    return block;
}

// The string NAME of the language block the file's translation table names first:
// the way readers find it, so a block under another language would not be found.
bool stringValue(const std::vector<char>& block, const char* name, std::string* value) {
    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", (void**)&translation, &length) ||
        length < sizeof(Translation))
        return false;
    char path[80];
    snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", translation->language,
             translation->codePage, name);
    char* text = nullptr;
    if (!VerQueryValueA(block.data(), path, (void**)&text, &length) || text == nullptr) return false;
    *value = text;
    return true;
}

class VersionResource : public ::testing::Test {
  protected:
    void SetUp() override {
        block = versionInfo(TOLVENMIRE_PLUGIN);
        ASSERT_FALSE(block.empty()) << TOLVENMIRE_PLUGIN << ": no version resource (error " << GetLastError()
                                    << ")";
    }
    std::vector<char> block;
};

TEST_F(VersionResource, NamesThePlugInAndTheProjectVersion) {
    struct Case {
        const char* name;
        std::string expected;
    };
    const Case cases[] = {
        {"FileVersion", TOLVENMIRE_VERSION},    {"ProductVersion", TOLVENMIRE_VERSION},
        {"ProductName", "Tolvenmire"},          {"InternalName", "Tolvenmire.asi"},
        {"OriginalFilename", "Tolvenmire.asi"},
    };
    for (const Case& c : cases) {
        std::string value;
        EXPECT_TRUE(stringValue(block, c.name, &value)) << c.name << ": not found";
        EXPECT_EQ(value, c.expected) << c.name;
    }
    std::string description;
    ASSERT_TRUE(stringValue(block, "FileDescription", &description));
    EXPECT_NE(description.find("Tolvenmire"), std::string::npos) << description;
    EXPECT_EQ(description.find_first_of("\r\n"), std::string::npos) << "one line: " << description;
}

TEST_F(VersionResource, NumericVersionIsTheProjectVersion) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", (void**)&fixed, &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const DWORD high = MAKELONG(TOLVENMIRE_VERSION_MINOR, TOLVENMIRE_VERSION_MAJOR);
    const DWORD low = MAKELONG(0, TOLVENMIRE_VERSION_PATCH);
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    EXPECT_EQ(fixed->dwFileType, (DWORD)VFT_DLL);
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "a release: no debug or pre-release flag";
}

} // namespace
