// User names out of every form of path a report carries them in.
#include <gtest/gtest.h>

#include "collector/ingest/user_names.h"

namespace collector {
namespace {

TEST(WithoutUserNames, ReplacesTheUsersFolderInEveryPathForm) {
    const struct {
        const char* path;
        const char* scrubbed;
    } kForms[] = {
        {"C:\\Users\\ivan\\AppData\\x.dll", "C:\\Users\\%USERNAME%\\AppData\\x.dll"},
        {"c:/USERS/Иван", "c:/USERS/%USERNAME%"},
        {"\\Device\\HarddiskVolume2\\Users\\ivan\\a", "\\Device\\HarddiskVolume2\\Users\\%USERNAME%\\a"},
        {"\\\\?\\D:\\Documents and Settings\\ivan", "\\\\?\\D:\\Documents and Settings\\%USERNAME%"},
        {"C:\\Users\\\\ivan\\", "C:\\Users\\\\%USERNAME%\\"},
        {"C:\\\\Users\\\\ivan\\\\a.dll", "C:\\\\Users\\\\%USERNAME%\\\\a.dll"},
        {"C:\\DOCUME~1\\ivan\\LOCALS~1", "C:\\DOCUME~1\\%USERNAME%\\LOCALS~1"},
        {"C:\\docume~2\\ivan", "C:\\docume~2\\%USERNAME%"},
        {"\\\\server\\home$\\ivan\\bin", "\\\\server\\home$\\%USERNAME%\\bin"},
        {"\\\\server\\Profiles$\\\\ivan.V2", "\\\\server\\Profiles$\\\\%USERNAME%"},
        {"\\\\?\\UNC\\server\\homes\\ivan\\a", "\\\\?\\UNC\\server\\homes\\%USERNAME%\\a"},
        {"//server/users/ivan", "//server/users/%USERNAME%"},
        // No one's name: shared profiles, other shares and folders, texts.
        {"C:\\Users\\Public\\Users\\x", "C:\\Users\\Public\\Users\\%USERNAME%"},
        {"C:\\Users\\Default\\a", "C:\\Users\\Default\\a"},
        {"C:\\Documents and Settings\\All Users\\a", "C:\\Documents and Settings\\All Users\\a"},
        {"\\\\server\\apps\\office", "\\\\server\\apps\\office"},
        {"\\\\home$\\ivan", "\\\\home$\\ivan"},
        {"D:\\home$\\ivan", "D:\\home$\\ivan"},
        {"C:\\DOCUME~X\\ivan", "C:\\DOCUME~X\\ivan"},
        {"%USER%\\AppData;Users", "%USER%\\AppData;Users"},
        {"C:\\Users\\", "C:\\Users\\"},
        {"%SYSTEM%\\ntdll.dll", "%SYSTEM%\\ntdll.dll"},
    };
    for (const auto& form : kForms) EXPECT_EQ(WithoutUserNames(form.path), form.scrubbed) << form.path;
}

}  // namespace
}  // namespace collector
