// The layout table of the cover, the error dialog and the menu, measured by real pango with
// the fonts this machine has: the texts must fit their boxes as the Linux program draws them.
#include <gtest/gtest.h>

#include "CairoCanvas.h"
#include "ScreenLayoutCases.h"

namespace hb {
namespace {

test::TCanvasAt Pango() {
  return [](int dpi) -> std::unique_ptr<ICanvas> {
    return std::make_unique<lin::TMeasureCanvas>(dpi);
  };
}

TEST(ScreenLayoutPango, CoverTextsFitTheirBoxesAtEveryScale) {
  test::CheckCoverLayouts(Pango());
}

TEST(ScreenLayoutPango, DialogTextsFitTheirBoxesAtEveryScale) {
  test::CheckDialogLayouts(Pango());
}

TEST(ScreenLayoutPango, MenuTextsFitTheirRowsAtEveryScale) {
  test::CheckMenuLayouts(Pango());
}

} // namespace
} // namespace hb
