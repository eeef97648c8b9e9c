"""The gateway cache seen from the browser's side: while the cache is paused it steps aside
entirely, so a dead gateway costs the page nothing, and it comes back when the pause ends."""

import os
import unittest

from harness import Program, wait_until, share_display_and_demo



share_display_and_demo(globals())


class PausedCache(unittest.TestCase):
    def setUp(self):
        DEMO.reset()
        self.program = Program(X, DEMO)
        # The store number and cloud by hand, so that the program runs with the gateway down.
        with open(os.path.join(self.program.install, "hallBoard.ini"), "w", encoding="utf-8") as f:
            f.write("[Gateway]\nAddress=127.0.0.1\nPort=%d\n[Display]\nMap=\nMonitor=1\n"
                    "[Advanced]\nServerUrl=%s\nNetBarId=1001\n" % (DEMO.gateway_port, DEMO.cloud))
        self.trace = os.path.join(self.program.root, "devtools.txt")
        self.program.stderr_path = self.trace
        # The 60-second pause after an unreachable gateway becomes 30 seconds.
        self.program.extra_env = {"HALLBOARD_DEVTOOLS_TRACE": "1", "HALLBOARD_TEST_TIME_DIVISOR": "2"}

    def tearDown(self):
        self.program.cleanup()
        DEMO.reset()

    def lines(self):
        with open(self.trace, encoding="utf-8", errors="replace") as f:
            return f.read().splitlines()

    def ready(self):
        wait_until(lambda: self.program.page_ready(), 45, interval=0.1, what="the page")

    def test_dead_gateway_stops_interception_until_the_pause_ends(self):
        # First a page whose only cacheable request (the catalogue version) meets the dead gateway.
        DEMO.fault(gateway="down", page="light")
        self.program.start()
        self.ready()
        # The filter keeps only documents (how navigations went, where they go) while the cache
        # rests; the cache's patterns are the cloud's addresses.
        filters = [l for l in self.lines() if '"method":"Fetch.enable"' in l]
        with_cache = [i for i, l in enumerate(filters) if '"urlPattern":"http' in l]
        self.assertTrue(with_cache, "the cache's patterns never reached the filter")
        self.assertTrue(any('"urlPattern":"http' not in l for l in filters[with_cache[0]:]),
                        "interception was never switched off during the pause")

        # Then the whole page: its pictures go straight to the cloud, none is held at the filter;
        # only the page's own document stops there.
        DEMO.fault(page="ok")
        mark = len(self.lines())
        self.program.eval("document.title='reloading';setTimeout(function(){location.reload();},10);1")
        self.ready()
        held = [l for l in self.lines()[mark:]
                if "Fetch.requestPaused" in l and "/seatmap/display?" not in l]
        self.assertEqual(held, [], "requests were still held while the cache was paused")
        self.assertIn("/product-image/goods-01.png", DEMO.stats("cloud")["requests"])

        # When the pause is over the filter is back, and the gateway serves the next new picture.
        DEMO.fault(gateway="ok")
        wait_until(lambda: any('"method":"Fetch.enable"' in l and '"requestStage":"Request"' in l
                               for l in self.lines()[mark:]), 60,
                   interval=0.2, what="interception to come back")
        self.program.eval("var i=new Image();i.src='/shop/game-icon/game-08.png?after=pause';"
                          "document.body.appendChild(i);1")
        wait_until(lambda: DEMO.stats("gateway").get("cache_served", {}).get(
            "/shop/game-icon/game-08.png?after=pause"), 20, what="the gateway to serve again")


if __name__ == "__main__":
    unittest.main()


class HostileCache(unittest.TestCase):
    """A gateway that answers every cacheable request with the largest body the program takes:
    those answers (hundreds of MiB in all) go through the browser's pipe while the page loads, and
    once the gateway behaves again nothing of them is left in the way."""

    def setUp(self):
        DEMO.reset()
        self.program = Program(X, DEMO)
        # A loaded machine may time a fetch out (a pause of 60 s): shortened to one second.
        self.program.extra_env = {"HALLBOARD_TEST_TIME_DIVISOR": "60"}

    def tearDown(self):
        self.program.cleanup()
        DEMO.reset()

    def finished(self):
        st = self.program.state()
        if not st or st["cover"]:
            return None
        title = self.program.eval("document.title")
        return title.rsplit(" - ", 1)[-1] if title.endswith(("- ready", "- failed")) else None

    def test_the_page_ends_and_the_next_one_loads(self):
        DEMO.fault(cache="maximal")
        self.program.start()
        # Such bodies are no pictures: the page says it failed, but it ends.
        self.assertEqual(wait_until(self.finished, 180, interval=0.2, what="the page to end"),
                         "failed")
        asked = DEMO.stats("gateway").get("cache_requested", {})
        self.assertTrue(any(p.startswith("/seatmap/") for p in asked),
                        "the seat-map media never went to the gateway: %r" % sorted(asked))
        # Every answer has left the program's budget: the next page loads, and the cache serves
        # again (a new picture now and then, until one comes from the gateway).
        DEMO.fault(cache="ok")
        self.program.eval("document.title='reloading';setTimeout(function(){location.reload();},10);1")
        wait_until(lambda: self.finished() == "ready", 60, interval=0.2,
                   what="the page through a sound gateway")
        tries = []

        def served_again():
            tries.append(len(tries))
            self.program.eval("var i=new Image();i.src='/shop/game-icon/game-08.png?again=%d';"
                              "document.body.appendChild(i);1" % tries[-1])
            served = DEMO.stats("gateway").get("cache_served", {})
            return any(p.startswith("/shop/game-icon/game-08.png?again=") for p in served)
        wait_until(served_again, 60, interval=1, what="the cache to serve again")
