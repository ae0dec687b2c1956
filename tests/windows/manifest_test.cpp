// The program carries the application manifest that has Windows hand it its
// command line as UTF-8. Wine does not act on the setting, so what can be
// checked everywhere is that the manifest is there, as the program's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// The manifest a process started from the program gets: resource type
// RT_MANIFEST (24), name CREATEPROCESS_MANIFEST_RESOURCE_ID (1).
std::string processManifest(const char* program) {
    const HMODULE image = LoadLibraryExA(program, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (image == nullptr) {
        ADD_FAILURE() << "cannot load " << program << ": error " << GetLastError();
        return "";
    }
    std::string text;
    if (const HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
        const void* bytes = LockResource(LoadResource(image, found));
        if (bytes != nullptr) {
            text.assign(static_cast<const char*>(bytes), SizeofResource(image, found));
        }
    }
    FreeLibrary(image);
    return text;
}

TEST(Manifest, DeclaresUtf8AsTheActiveCodePage) {
    const std::string manifest = processManifest(TRUSTCHECK_PROGRAM);
    ASSERT_NE(manifest, "") << "no manifest resource in " << TRUSTCHECK_PROGRAM;
    // A linker that merges manifests may write the namespace as a prefix, so
    // the parts are looked for one by one.
    EXPECT_NE(manifest.find("http://schemas.microsoft.com/SMI/2019/WindowsSettings"), std::string::npos) << manifest;
    const std::size_t element = manifest.find("activeCodePage");
    ASSERT_NE(element, std::string::npos) << manifest;
    EXPECT_NE(manifest.find(">UTF-8</", element), std::string::npos) << manifest;
}

}  // namespace
