// The credits list: rows follow the count, layout waits for the end of an update, and the header
// and rows are painted in their cells.
#include <windows.h>

#include <gtest/gtest.h>

#include "../WindowTestSupport.h"
#include "CreditsList.h"
#include "GenUtils.h"

using namespace window_test;

namespace {

class CreditsListTest : public HostFormTest {
protected:
    TCreditsList *MakeList() {
        auto *list = new TCreditsList(Form);
        list->SetParent(Form);
        list->SetBounds(10, 10, 300, 150);
        PumpPending();
        return list;
    }
};

TEST_F(CreditsListTest, CountSetsTheRowsAndTheScrollRangeOnceAnUpdateEnds) {
    TCreditsList *list = MakeList();
    // The header and three rows of 17 pixels at the standard font, scaled to the screen's.
    const int row = ScaleForScreenFont(17);
    ASSERT_GT(row, 0);
    list->SetCount(3);
    EXPECT_EQ(list->VertScrollBar().Range(), 4 * row);

    list->BeginUpdate();
    list->SetCount(5);
    list->SetAuthor(4, "Alice");
    EXPECT_EQ(list->VertScrollBar().Range(), 4 * row);
    list->EndUpdate();
    EXPECT_EQ(list->VertScrollBar().Range(), 6 * row);
    list->EndUpdate(); // an unmatched end stays at zero
    list->SetCount(4);
    EXPECT_EQ(list->VertScrollBar().Range(), 5 * row);

    list->SetAuthor(0, "Bob");
    list->SetDate(0, "2026-12-10");
    list->SetCount(0);
    EXPECT_EQ(list->Count(), 0);
    list->SetCount(2);
    EXPECT_EQ(list->GetAuthor(0), "");
    EXPECT_EQ(list->GetDate(0), "");
    EXPECT_EQ(list->GetAuthor(1), "");
    EXPECT_EQ(list->VertScrollBar().Range(), 3 * row);
}

TEST_F(CreditsListTest, HeaderCellsAreButtonFacesAndRowsLieOnTheWindowColour) {
    TCreditsList *list = MakeList();
    list->SetCount(1);
    list->SetAuthor(0, "Alice");
    list->SetDate(0, "2026-12-10");
    const int row = TCreditsList::RowHeight();
    int dateWidth = list->DateWidth();
    ASSERT_LT(dateWidth, list->ClientWidth());
    TBitmap image;
    PaintControl(*list, image);
    const COLORREF face = ColorToRGB(clBtnFace), window = ColorToRGB(clWindow);
    EXPECT_EQ(PixelAt(image, 2, 2), face);                                         // author header
    EXPECT_EQ(PixelAt(image, list->ClientWidth() - dateWidth + 2, row - 3), face); // date header
    EXPECT_EQ(PixelAt(image, 1, row + 1), window);                                 // first row
    EXPECT_EQ(PixelAt(image, 2, 3 * row), window);                                 // below the rows
}

} // namespace
