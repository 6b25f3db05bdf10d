#include "browser/media_item.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

TEST(MediaItem, NamesSortWithTheirNumbersComparedAsNumbers) {
    std::vector<std::string> names = {"StillCap10.bmp",
                                      "StillCap2.bmp",
                                      "AStillCap3.bmp",
                                      "StillCap02.bmp",
                                      "StillCap.bmp",
                                      "VCap0011.avi",
                                      "VCap0009.avi",
                                      "a.bmp",
                                      "StillCap2a.bmp",
                                      "StillCap1.bmp",
                                      "x99999999999999999999.bmp",
                                      "x100000000000000000000.bmp"};
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return NaturalNameLess(a, b); });
    const std::vector<std::string> expected = {"AStillCap3.bmp",
                                               "StillCap.bmp",
                                               "StillCap1.bmp",
                                               "StillCap2.bmp",
                                               "StillCap02.bmp",
                                               "StillCap2a.bmp",
                                               "StillCap10.bmp",
                                               "VCap0009.avi",
                                               "VCap0011.avi",
                                               "a.bmp",
                                               "x99999999999999999999.bmp",
                                               "x100000000000000000000.bmp"};
    EXPECT_EQ(names, expected);
    // A strict order: nothing is less than itself.
    for (const std::string& name : names) {
        EXPECT_FALSE(NaturalNameLess(name, name)) << name;
    }
}

TEST(MediaItem, TheCornerMarkFollowsTheFlagAndTheSavedPrefix) {
    struct Row {
        const char* path;
        std::uint32_t flags;
        bool marked;
    };
    const Row rows[] = {
        {"/p/StillCap1.bmp", itemflag::kValid | itemflag::kUnsaved, true},
        {"/p/AStillCap1.bmp", itemflag::kValid | itemflag::kUnsaved, false},
        {"/p/aStillCap1.bmp", itemflag::kValid | itemflag::kUnsaved, true},
        {"/A/StillCap1.bmp", itemflag::kValid | itemflag::kUnsaved, true},
        {"/p/StillCap1.bmp", itemflag::kValid, false},
        {"/p/VCap0000.avi", itemflag::kValid | itemflag::kUnsaved | itemflag::kSelected, true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ShowsUnsavedMark(MediaItem{row.path, row.flags}), row.marked) << row.path;
    }
    EXPECT_EQ(FileNameOf("/a/b/c.bmp"), "c.bmp");
    EXPECT_EQ(FolderOf("/a/b/c.bmp"), "/a/b");
    EXPECT_EQ(FolderOf("c.bmp"), "");
}

}  // namespace
