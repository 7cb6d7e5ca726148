// semsignal.exe's version record and manifest, read back the way the shell and the loader do.
#include "harness.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace
{

class VersionRecord : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        DWORD ignored = 0;
        std::wstring path = wide(semsignal_path());
        DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        ASSERT_GT(size, 0u) << "no version record, error " << GetLastError();
        record_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, record_.data()));
    }

    // The value at `path` in the record, and its length as the API gives it.
    void *query(const char *path, UINT *length)
    {
        void *value = nullptr;
        *length = 0;
        EXPECT_TRUE(VerQueryValueA(record_.data(), path, &value, length)) << path;
        return value;
    }

    std::string text(const std::string &key)
    {
        UINT length = 0;
        const char *value = static_cast<const char *>(
            query(("\\StringFileInfo\\040904E4\\" + key).c_str(), &length));
        return value == nullptr ? "<missing>" : std::string(value);
    }

    std::vector<char> record_;
};

TEST_F(VersionRecord, FixedPartIsVersion1_264_0_0AndDeclaresNothingElse)
{
    UINT length = 0;
    auto *fixed = static_cast<VS_FIXEDFILEINFO *>(query("\\", &length));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwStrucVersion, 0x00010000u);
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), 1);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), 264);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileFlagsMask, 0u);
    EXPECT_EQ(fixed->dwFileFlags, 0u);
    EXPECT_EQ(fixed->dwFileOS, 0u);
    EXPECT_EQ(fixed->dwFileType, 0u);
    EXPECT_EQ(fixed->dwFileSubtype, 0u);
    EXPECT_EQ(fixed->dwFileDateMS, 0u);
    EXPECT_EQ(fixed->dwFileDateLS, 0u);
}

TEST_F(VersionRecord, TranslationIsUsEnglishInCodePage1252)
{
    UINT length = 0;
    auto *translation = static_cast<WORD *>(query("\\VarFileInfo\\Translation", &length));
    ASSERT_NE(translation, nullptr);
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1252);
}

TEST_F(VersionRecord, StringTableHoldsTheSixStrings)
{
    EXPECT_EQ(text("CompanyName"), "Kelvaro, Inc.");
    EXPECT_EQ(text("FileDescription"), "Dorvanel");
    EXPECT_EQ(text("FileVersion"), "1.264.0000.0");
    EXPECT_NE(text("LegalCopyright").find("Copyright"), std::string::npos);
    EXPECT_NE(text("LegalCopyright").find("Kelvaro, Inc."), std::string::npos);
    EXPECT_EQ(text("ProductName"), "Dorvanel");
    EXPECT_EQ(text("ProductVersion"), "1.264.0000");
}

TEST(Manifest, IsTheDocumentByteForByte)
{
    HMODULE image = LoadLibraryExW(wide(semsignal_path()).c_str(), NULL,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    HRSRC found = FindResourceExA(image, MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1),
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ASSERT_NE(found, nullptr);
    const char *bytes = static_cast<const char *>(LockResource(LoadResource(image, found)));
    std::string manifest(bytes, SizeofResource(image, found));
    FreeLibrary(image);

    // The test program carries the manifest as it is in the sources.
    HRSRC own = FindResourceA(NULL, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(10)); // RT_RCDATA
    ASSERT_NE(own, nullptr);
    std::string expected(static_cast<const char *>(LockResource(LoadResource(NULL, own))),
                         SizeofResource(NULL, own));
    EXPECT_EQ(manifest.size(), 381u);
    EXPECT_EQ(manifest, expected);
}

// The run level as the system reads it from the executable's manifest when it starts it.
TEST(Manifest, AsksTheSystemToRunTheCommandAsItsCallerWithoutUiAccess)
{
    std::wstring path = wide(semsignal_path());
    ACTCTXW context = {};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = path.c_str();
    context.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE activation = CreateActCtxW(&context);
    ASSERT_NE(activation, INVALID_HANDLE_VALUE) << "the system cannot read the manifest";
    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = {};
    EXPECT_TRUE(QueryActCtxW(0, activation, NULL, RunlevelInformationInActivationContext, &level,
                             sizeof level, NULL));
    ReleaseActCtx(activation);
    EXPECT_EQ(level.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);
    EXPECT_EQ(level.UiAccess, 0u);
}

} // namespace
