#pragma once
// The seat-map menu: a small dark popup at the mouse pointer naming the store, listing its maps
// (the one on display marked), with "刷新" and "退出机位图". The core builds its entries,
// computes every size, paints it and handles its input; the shell provides the native popup
// window (IWindowHost::CreatePopup) and forwards paint and input to it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Geometry.h"
#include "ICanvas.h"
#include "IUiQueue.h"
#include "IWindowHost.h"

namespace hb {

enum TSeatMenuKind : uint8_t { mkHeader, mkMap, mkSep, mkAction };

struct TSeatMenuEntry {
  TSeatMenuKind Kind = mkAction;
  std::string Caption;
  std::string Hint; // header: second line; rows: right-aligned note; may be empty
  bool Checked = false;
  bool Danger = false;
  std::function<void()> Action; // may be empty
};

// Measures one line of text in a font, in device pixels.
using TTextMeasure = std::function<TSize(const std::string& text, const TFont& font)>;

// A measure without a surface: ASCII characters 0.55 em, others 1 em, at 96 DPI x scale.
TSize EstimateTextSize(const std::string& text, const TFont& font, double scale);

// Colours and fonts of the menu.
constexpr TColor kMenuBackground = 0x111B2E;
constexpr TColor kMenuLine = 0x2A3A57;
constexpr TColor kMenuText = 0xE6EEF6;
constexpr TColor kMenuHintText = 0x8098B4;
constexpr TColor kMenuHot = 0x1E2B45;
constexpr TColor kMenuChecked = 0x3B82F6;
constexpr TColor kMenuDanger = 0xF87171;
TFont MenuHeaderFont(); // 13 pt bold
TFont MenuSmallFont();  // 10 pt: header hint and row hints
TFont MenuRowFont();    // 12 pt: row text and width measuring

class TSeatMenu : public IPopupClient {
 public:
  // Creates the (hidden) popup window through owner and sizes the menu from the entries.
  TSeatMenu(IWindowHost& owner, IUiQueue& queue, std::vector<TSeatMenuEntry> entries, double scale,
            const TTextMeasure& measure);
  ~TSeatMenu() override;
  TSeatMenu(const TSeatMenu&) = delete;
  TSeatMenu& operator=(const TSeatMenu&) = delete;

  // Places the menu at screen point p, kept 4 pixels inside the work area of the monitor
  // nearest to p, and shows it. A menu taller than the work area shows as many map rows as fit
  // and scrolls them; the header above and the rows below the maps ("刷新", "退出机位图") stay.
  void PopupAt(TPoint p);
  // Limits the client height to maxHeight by scrolling the map rows (at least one stays).
  void FitHeight(int maxHeight);
  // Runs a selectable entry's action after the current event (through the queue) and hides the
  // menu; any other index does nothing and leaves the menu open.
  void Fire(int index);
  void Hide();
  bool Visible() const;

  int RowHeight(int index) const;
  // Top of a row in client coordinates with the current scroll; a map row scrolled out of view
  // lies outside the map rows' viewport.
  int RowTop(int index) const;
  int RowAt(int y) const; // -1 over the margins and outside
  bool IsSelectable(int index) const;
  void MoveHot(int delta);
  // Whether the map rows scroll, the first one in view and how many are in view.
  bool Scrolls() const { return FVisibleRows < FMapEnd - FMapBegin; }
  int FirstVisible() const { return FFirstVisible; }
  int VisibleRows() const { return FVisibleRows; }
  // Scrolls the map rows by rows (positive: towards the end); the highlight stays where it is.
  void ScrollBy(int rows);

  int Hot() const { return FHot; }
  TSize ClientSize() const { return FClient; }
  TRect Bounds() const { return FBounds; } // screen bounds of the last PopupAt
  const std::vector<TSeatMenuEntry>& Entries() const { return FEntries; }
  int RowH() const { return FRowH; }
  int SepH() const { return FSepH; }
  int HeadH() const { return FHeadH; }
  int Pad() const { return FPad; }
  int Margin() const { return FMargin; }

  // IPopupClient
  void Paint(ICanvas& canvas) override;
  void MouseMove(int x, int y) override;
  void MouseUp(TMouseButton button, int x, int y) override;
  void KeyDown(int key) override;
  void MouseWheel(int notches) override;
  void Deactivated() override;

 private:
  int Scaled(int value) const { return ScaleMetric(value, FScale); }
  void Repaint();
  void PaintRow(ICanvas& canvas, int index, int top);
  void EnsureVisible(int index);
  void MovePage(int delta);
  int ViewTop() const { return FTops[FMapBegin]; }
  int ViewHeight() const { return FVisibleRows * FRowH; }

  IUiQueue& FQueue;
  std::vector<TSeatMenuEntry> FEntries;
  int FHot = -1;
  int FRowH = 46;
  int FSepH = 13;
  int FHeadH = 66;
  int FPad = 8;
  int FMargin = 18;
  double FScale = 1.0;
  // Content tops without scrolling, one more than there are entries (the last is the content's
  // end); the map rows are the run [FMapBegin, FMapEnd), all FRowH high, of which FVisibleRows
  // from FFirstVisible are in view. Positions come from these in constant time, so painting and
  // every key press cost the rows in view, not the length of the list.
  std::vector<int> FTops;
  int FMapBegin = 0;
  int FMapEnd = 0;
  int FFirstVisible = 0;
  int FVisibleRows = 0;
  TSize FClient;
  TRect FBounds;
  IWindowHost& FOwner;
  std::unique_ptr<IPopupWindow> FWindow;
};

} // namespace hb
