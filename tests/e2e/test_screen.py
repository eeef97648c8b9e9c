"""The program's own drawing on a screen GTK scales by two (GDK_SCALE=2, a 4K-class display
shown at 200 %): the cover, the menu and the error dialog keep their 100 % proportions in
logical pixels, drawn at twice the pixels, never with fonts scaled a second time."""

import threading
import unittest

from harness import Program, rgb, wait_until, share_display_and_demo

TITLE = rgb("#E6EEF6")
WHITE = (255, 255, 255)


# 1280 x 720 logical pixels at a scale of two.
share_display_and_demo(globals(), 2560, 1440)


def close(a, b, tolerance=8):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


def extent(image, colour, left, top, right, bottom, step=2):
    """The box (left, top, right, bottom) around the pixels of colour inside the area, or None."""
    xs, ys = [], []
    for y in range(top, bottom, step):
        for x in range(left, right, step):
            if close(image.pixel(x, y), colour):
                xs.append(x)
                ys.append(y)
    return (min(xs), min(ys), max(xs), max(ys)) if xs else None


class DoubleScale(unittest.TestCase):
    def setUp(self):
        DEMO.reset()
        self.program = Program(X, DEMO)
        # No browser: the M103 cover stays, with the longest detail the Linux program shows.
        self.program.extra_env = {"GDK_SCALE": "2", "HALLBOARD_CHROMIUM": "/nonexistent/chromium"}
        self.program.start()
        wait_until(lambda: "M103" in (self.program.state() or {}).get("detail", ""), 20,
                   what="the M103 cover")

    def tearDown(self):
        self.program.cleanup()

    def shot(self, label):
        return X.screenshot("%s-%s" % (self.id().rsplit(".", 1)[-1], label))

    def test_cover_menu_and_dialog_at_twice_the_pixels(self):
        # The title's box is 48 logical pixels high around the middle (M - 30 .. M + 18), so
        # 96 device pixels; its 26-point text is about 350 logical pixels wide. Fonts scaled
        # twice would make it about 1400 device pixels wide. The cover paints its new texts
        # a moment after they change: take pictures until the title shows.
        box = wait_until(lambda: extent(self.shot("cover"), TITLE, 0, (360 - 30) * 2, 2560,
                                        (360 + 18) * 2), 10, what="the cover's title painted")
        width, height = box[2] - box[0], box[3] - box[1]
        self.assertGreater(width, 450, box)
        self.assertLess(width, 1000, box)
        self.assertLess(height, 96, box)
        self.assertGreater(height, 40, box)

        # The menu: its size is logical, between its minimum and maximum width.
        X.xdotool("mousemove", 1280, 1200)
        X.xdotool("click", 3)
        st = wait_until(lambda: (self.program.state() or {}).get("menuVisible")
                        and self.program.state(), 10, what="the seat-map menu")
        left, top, w, h = st["menuBounds"]
        self.assertGreaterEqual(w, 280)
        self.assertLessEqual(w, 560)
        self.assertLessEqual(top + h, 720)
        wait_until(lambda: extent(self.shot("menu"), TITLE, left * 2, top * 2, (left + w) * 2,
                                  (top + 33) * 2), 10, what="the menu's header text painted")
        X.xdotool("key", "Escape")
        wait_until(lambda: not self.program.state()["menuVisible"], 10, what="the menu to close")

        # The error dialog: 460 logical pixels wide in the middle of the screen.
        answer = []
        worker = threading.Thread(target=lambda: answer.append(self.program.command("throw", timeout=60)))
        worker.start()
        try:
            wait_until(lambda: "M900" in self.program.log_text(), 10, what="the M900 report")
            def dialog_row():
                image = self.shot("dialog")  # one picture per try, read across the middle
                return [x for x in range(0, 2560, 2) if image.pixel(x, 720) == WHITE]
            row = wait_until(dialog_row, 10, what="the dialog painted in the middle of the screen")
            self.assertAlmostEqual(max(row) - min(row), 920, delta=12)
        finally:
            X.xdotool("key", "Escape")
            worker.join(15)
        self.assertFalse(worker.is_alive())


if __name__ == "__main__":
    unittest.main()
