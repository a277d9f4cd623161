// The names the open dialog hands back.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Dialogs.h"

namespace {

TEST(OpenDialogNames, OneNameOrAFolderWithTheNamesInIt) {
    struct TCase {
        std::string Buffer;
        std::vector<std::string> Names;
    } cases[] = {
        {std::string("C:\\f\\a.ofr\0\0", 12), {"C:\\f\\a.ofr"}},
        {std::string("C:\\f\0a.ofr\0b c.opr\0\0", 21), {"C:\\f\\a.ofr", "C:\\f\\b c.opr"}},
        {std::string("C:\\\0a.ofr\0b.opr\0\0", 17), {"C:\\a.ofr", "C:\\b.opr"}},
        {std::string("\0\0", 2), {}},
        // A buffer the dialog filled to its end without the closing NUL.
        {std::string("C:\\f\0a.ofr", 10), {"C:\\f\\a.ofr"}},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(SplitOpenDialogNames(c.Buffer.data(), c.Buffer.size()), c.Names) << c.Buffer;
}

} // namespace
