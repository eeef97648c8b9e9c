#pragma once
// The layout of everything the program paints, checked over the usual scalings and the longest
// texts it shows: every text, as the given canvas measures it, fits its box, the boxes stay
// inside their window, and no two of them overlap. The same table runs with the recording
// canvas (tests/unit) and with real pango measuring (tests/e2e/adapter).
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeUiQueue.h"
#include "FakeWindowHost.h"
#include "ICanvas.h"
#include "display/BrowserHost.h"
#include "display/Cover.h"
#include "display/SeatMenu.h"
#include "gateway/GatewayResolve.h"
#include "shell/ShellDialog.h"

namespace hb::test {

using TCanvasAt = std::function<std::unique_ptr<ICanvas>(int dpi)>;

inline const int kLayoutDpis[] = {96, 120, 144, 192, 288};

inline bool Overlap(const TRect& a, const TRect& b) {
  return a.Left < b.Right() && b.Left < a.Right() && a.Top < b.Bottom() && b.Top < a.Bottom();
}

inline std::string Where(int dpi, const std::string& what, const std::string& text) {
  return "dpi " + std::to_string(dpi) + ", " + what + ": " + text;
}

// One line of text in font fits box (width and height).
inline void ExpectLineFits(ICanvas& c, const std::string& text, const TFont& font, const TRect& box,
                           const std::string& where) {
  const TSize s = c.MeasureText(text, font);
  EXPECT_LE(s.Width, box.Width) << where;
  EXPECT_LE(s.Height, box.Height) << where;
}

inline void ExpectInside(const TRect& r, TSize client, const std::string& where) {
  EXPECT_GE(r.Left, 0) << where;
  EXPECT_GE(r.Top, 0) << where;
  EXPECT_LE(r.Right(), client.Width) << where;
  EXPECT_LE(r.Bottom(), client.Height) << where;
}

struct TCoverTexts {
  std::string Name, Title, Detail, Hint;
};

inline std::vector<TCoverTexts> LongestCoverTexts() {
  const std::string host = "storerelay-gateway.floor2.internal.example.com";
  return {
      {"M103 with its tag", kMissingRuntimeTitle, std::string(kMissingRuntimeAdvice) + "M103-7QX2",
       kHintNoCountdown},
      {"M103 without the loader", kMissingRuntimeTitle,
       MissingFileAdvice("WebView2Loader.dll") + "M103-7QX2", kHintNoCountdown},
      {"M103 on Linux", "缺少 Chromium 浏览器",
       "这台电脑需要先安装 Chromium 浏览器（Debian / Ubuntu：sudo apt-get install chromium），"
       "装好后重新打开机位图。错误码 M103-7QX2",
       kHintNoCountdown},
      {"gateway unreachable", "连不上门店网关",
       "打不开 " + host +
           ":58001。请确认网关电脑已开机、StoreRelay 在运行，并核对 hallBoard.ini 里的网关地址。",
       CountdownHint(30)},
      {"gateway without cloud address", "门店网关没有给出云端地址",
       "网关 " + host +
           ":58001 已连上，但没有返回门店编号或云端地址。请在网关电脑上核对 StoreRelay.ini 的 "
           "NetBarId 与 ServerUrl。",
       CountdownHint(30)},
      {"no gateway address", NoGatewayTitle(),
       NoGatewayDetail("C:\\Users\\Administrator\\Desktop\\机位图 前台展示\\hallBoard.ini"),
       kHintNoCountdown},
      {"cloud unreachable", kCloudUnreachableTitle, kCloudUnreachableDetail, CountdownHint(30)},
  };
}

inline void CheckCoverLayouts(const TCanvasAt& canvasAt) {
  for (int dpi : kLayoutDpis) {
    std::unique_ptr<ICanvas> c = canvasAt(dpi);
    // Screens of 1280 x 720 and 1920 x 1080 at 100 %, in the pixels of this scaling.
    for (TSize logical : {TSize{1280, 720}, TSize{1920, 1080}}) {
      const TSize client{ScaleToDpi(logical.Width, dpi), ScaleToDpi(logical.Height, dpi)};
      for (const TCoverTexts& t : LongestCoverTexts()) {
        const TCoverLayout l = LayoutCoverFor(client, *c, t.Detail);
        const std::string at =
            Where(dpi, t.Name, std::to_string(client.Width) + "x" + std::to_string(client.Height));
        ExpectLineFits(*c, t.Title, CoverTitleFont(), l.Title, at + " title");
        ExpectLineFits(*c, t.Hint, CoverHintFont(), l.Hint, at + " hint");
        const TSize d = c->MeasureText(t.Detail, CoverDetailFont(), l.Detail.Width);
        EXPECT_LE(d.Width, l.Detail.Width) << at << " detail";
        EXPECT_LE(d.Height, l.Detail.Height) << at << " detail";
        EXPECT_EQ(l.Icon.Width, ScaleToDpi(kCoverIconSize, dpi)) << at;
        const TRect boxes[] = {l.Icon, l.Title, l.Detail, l.Hint};
        for (size_t i = 0; i < 4; ++i) {
          ExpectInside(boxes[i], client, at + " box " + std::to_string(i));
          for (size_t j = i + 1; j < 4; ++j)
            EXPECT_FALSE(Overlap(boxes[i], boxes[j])) << at << " boxes " << i << " and " << j;
        }
      }
    }
  }
}

inline void CheckDialogLayouts(const TCanvasAt& canvasAt) {
  std::string longMessage = "机位图程序遇到问题，请关闭后重新打开。\r\n错误码 M900-7QX2\r\n";
  for (int i = 0; i < 6; ++i)
    longMessage += "Exception：无法访问 C:\\Users\\Administrator\\AppData\\Local\\hallBoard\\"
                   "WebView2\\EBWebView\\Default\\Cache 缓存文件被占用 ";
  const struct {
    std::string Name, Title, Text;
    std::vector<std::string> Buttons;
  } cases[] = {
      {"exception",
       "遇到一点问题",
       "机位图程序遇到问题，请关闭后重新打开。\r\n错误码 M900-7QX2",
       {"知道了"}},
      {"long exception message", "遇到一点问题", longMessage, {"知道了"}},
      {"three buttons",
       "要退出机位图吗",
       "退出后这块屏幕不再显示机位图。",
       {"取消", "重新打开", "退出机位图"}},
  };
  for (int dpi : kLayoutDpis) {
    std::unique_ptr<ICanvas> c = canvasAt(dpi);
    for (const auto& k : cases) {
      const std::string at = Where(dpi, "dialog", k.Name);
      TShellDialog dialog(k.Title, k.Text, k.Buttons, 0, -1, *c);
      const TShellDialogLayout& l = dialog.Layout();
      ExpectLineFits(*c, k.Title, DialogTitleFont(), l.Title, at + " title");
      const TSize m = c->MeasureText(k.Text, DialogMessageFont(), l.Message.Width);
      EXPECT_LE(m.Height, l.Message.Height) << at << " message";
      EXPECT_LE(m.Width, l.Message.Width) << at << " message";
      std::vector<TRect> boxes = {l.Icon, l.Title, l.Message};
      for (size_t b = 0; b < l.Buttons.size(); ++b) {
        ExpectLineFits(*c, k.Buttons[b], FlatButtonFont(), l.Buttons[b],
                       at + " button " + k.Buttons[b]);
        boxes.push_back(l.Buttons[b]);
      }
      // The outline's rounded corners take nothing from the texts.
      const int inset = l.Corner / 2;
      for (size_t i = 0; i < boxes.size(); ++i) {
        ExpectInside(boxes[i], {l.Client.Width - inset, l.Client.Height - inset},
                     at + " box " + std::to_string(i));
        for (size_t j = i + 1; j < boxes.size(); ++j)
          EXPECT_FALSE(Overlap(boxes[i], boxes[j])) << at << " boxes " << i << " and " << j;
      }
    }
  }
}

inline void CheckMenuLayouts(const TCanvasAt& canvasAt) {
  for (int dpi : kLayoutDpis) {
    std::unique_ptr<ICanvas> c = canvasAt(dpi);
    TFakeWindowHost host;
    TFakeUiQueue queue;
    ICanvas* measure = c.get();
    TTextMeasure m = [measure](const std::string& s, const TFont& f) {
      return measure->MeasureText(s, f);
    };
    std::vector<TSeatMenuEntry> entries = {
        {mkHeader, "星光网咖 万达广场旗舰店", "选择要显示的机位图", false, false, nullptr},
        {mkMap, "一楼大厅 A 区", "", false, false, nullptr},
        {mkMap, "二楼电竞包间", "正在显示", true, false, nullptr},
        {mkSep, "", "", false, false, nullptr},
        {mkAction, "刷新", "F5", false, false, nullptr},
        {mkAction, "退出机位图", "Alt+F4", false, true, nullptr},
    };
    TSeatMenu menu(host, queue, entries, dpi / 96.0, m);
    const std::string at = Where(dpi, "menu", "rows");
    const int w = menu.ClientSize().Width;
    // The header's two lines lie inside the header row, one below the other.
    const TSize title = c->MeasureText(entries[0].Caption, MenuHeaderFont());
    const TSize hint = c->MeasureText(entries[0].Hint, MenuSmallFont());
    const int top = menu.RowTop(0);
    const int titleTop = top + ScaleToDpi(9, dpi), hintTop = top + ScaleToDpi(36, dpi);
    EXPECT_LE(titleTop + title.Height, hintTop + 1) << at << " header lines";
    EXPECT_LE(hintTop + hint.Height, top + menu.HeadH() - 2) << at << " header hint";
    EXPECT_LE(menu.Margin() + title.Width, w) << at << " header title";
    for (int i = 1; i < static_cast<int>(entries.size()); ++i) {
      if (!menu.IsSelectable(i)) continue;
      const TSize cap = c->MeasureText(entries[i].Caption, MenuRowFont());
      const TSize h = c->MeasureText(entries[i].Hint, MenuSmallFont());
      EXPECT_LE(cap.Height, menu.RowH() - 6) << at << " " << entries[i].Caption;
      // Caption (after the dot's indent) and hint side by side within the margins.
      const int indent = entries[i].Kind == mkMap ? ScaleToDpi(22, dpi) : 0;
      EXPECT_LE(menu.Margin() + indent + cap.Width + ScaleToDpi(8, dpi) + h.Width,
                w - menu.Margin())
          << at << " " << entries[i].Caption;
    }
  }
}

} // namespace hb::test
