"""A gateway that answers the seat-map media slowly: the navigation deadline and the gateway cache
agree. A page still waiting for an answer the cache may legitimately wait for is not declared
unanswered; one whose answer comes later than the cache waits still gets the deadline's cover.

The waits of a page load are divided by LOAD (HALLBOARD_TEST_LOAD_DIVISOR), and the demo's
slowness by the same number, so that the minutes of a real store take seconds here."""

import time
import unittest

from harness import Program, wait_until, share_display_and_demo

LOAD = 6
MEDIA = "/seatmap/5f2c8a91d04b4e7c9a3e61b0f7d2c845/img/0a1b2c3d4e5f60718293.png"


def scaled(ms):
    """A wait of the program as the load divisor shortens it."""
    return max(ms // LOAD, 1)


DEADLINE_MS = scaled(60000)            # the navigation deadline
HOLD_MS = scaled(1500) + scaled(90000)  # the cache's longest wait: connect + seat-map media answer


share_display_and_demo(globals())


class SlowGateway(unittest.TestCase):
    def setUp(self):
        DEMO.reset()
        # The gateway must fetch the media from the (slow) cloud, not serve it from memory.
        DEMO._call(DEMO.gateway + "/demo/cache/clear", {})
        self.program = Program(X, DEMO)
        self.program.extra_env = {"HALLBOARD_TEST_LOAD_DIVISOR": str(LOAD),
                                  "HALLBOARD_TEST_TIME_DIVISOR": "3"}
        self.titles = set()

    def tearDown(self):
        self.program.cleanup()
        DEMO.reset()

    def watch(self, predicate):
        """predicate, noting every cover title seen on the way."""
        def step():
            st = self.program.state()
            if st and st["cover"]:
                self.titles.add(st["title"])
            return predicate(st)
        return step

    def media_asked(self, server):
        return DEMO.stats(server)["requests"].get(MEDIA, 0)

    def test_media_slower_than_the_deadline_but_within_the_cache_wait_shows_the_map(self):
        # Later than the deadline, well within the cache's wait for seat-map media.
        delay = scaled(75000)
        self.assertTrue(DEADLINE_MS < delay < HOLD_MS)
        DEMO.fault(**{"media-delay-ms": delay})
        # The demo keeps the reports of earlier tests; this page's own comes after them, and may
        # come a moment after the map shows.
        known = len(DEMO.reports())
        self.program.start()
        wait_until(self.watch(lambda st: st and self.program.page_ready("大厅")), 90,
                   what="the map")
        # The load event came after the deadline: the deadline was put off, not missed.
        report = wait_until(lambda: DEMO.reports()[known:], 30, what="the page's report")[-1]
        self.assertEqual(report["state"], "ready")
        self.assertGreater(report["load"], DEADLINE_MS)
        # The media came through the gateway (the cloud was asked once, by the gateway), the page
        # was opened once, and nothing was declared unanswered.
        self.assertIn(MEDIA, DEMO.stats("gateway").get("cache_served", {}))
        self.assertEqual(self.media_asked("cloud"), 1)
        self.assertEqual(DEMO.stats("cloud")["requests"].get("/seatmap/display"), 1)
        self.assertNotIn("连不上云端", self.titles)
        self.assertNotIn("M104", self.program.log_text())
        st = self.program.state()
        self.assertFalse(st["cover"])
        self.assertFalse(st["retryRunning"])

    def test_media_later_than_the_cache_waits_ends_with_the_deadline_cover_then_the_map(self):
        # Later than the cache waits: the cache gives up and the browser asks the cloud itself,
        # which is just as slow; the deadline, put off only while the cache waited, then ends the
        # navigation as unanswered.
        delay = scaled(120000)
        self.assertGreater(delay, HOLD_MS)
        DEMO.fault(**{"media-delay-ms": delay})
        started = time.monotonic()
        self.program.start()
        st = wait_until(self.watch(lambda st: st and st["cover"] and st["title"] == "连不上云端"
                                   and st), 120, what="the deadline's cover")
        # Not before the cache had given up on the gateway.
        self.assertGreater((time.monotonic() - started) * 1000, HOLD_MS)
        self.assertIn(MEDIA, DEMO.stats("gateway").get("cache_requested", {}))
        self.assertTrue(st["retryRunning"])
        self.assertIn("M104", self.program.log_text())
        # The countdown ends with the map once the cloud answers in time again.
        DEMO.fault(**{"media-delay-ms": 0})
        wait_until(lambda: self.program.page_ready("大厅"), 120, what="the map again")


if __name__ == "__main__":
    unittest.main()
