"""The helper Remote Script against a small stand-in for Live's Python API."""

import importlib.util
import json
import math
import os
import socket
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("CRESTLINE_SOURCE_DIR", os.path.join(HERE, "..", ".."))
SCRIPT = os.path.join(SOURCE, "resources", "LiveScript", "Crestline", "__init__.py")

module_spec = importlib.util.spec_from_file_location("crestline_live_script", SCRIPT)
script = importlib.util.module_from_spec(module_spec)
module_spec.loader.exec_module(script)


class CuePoint(object):
    def __init__(self, time, name):
        self.time = time
        self.name = name


class Song(object):
    """The attributes and listener methods of Live.Song.Song the script uses."""

    def __init__(self):
        self.current_song_time = 0.0
        self.is_playing = False
        self.cue_points = []
        self.signature_numerator = 4
        self.signature_denominator = 4
        self.listeners = {}

    def __getattr__(self, name):
        for kind, index in (("add_", 4), ("remove_", 7)):
            if name.startswith(kind) and name.endswith("_listener"):
                key = name[index:-len("_listener")]
                if kind == "add_":
                    return lambda cb: self.listeners.setdefault(key, []).append(cb)
                return lambda cb: self.listeners.get(key, []).remove(cb)
        if name.endswith("_has_listener"):
            key = name[:-len("_has_listener")]
            return lambda cb: cb in self.listeners.get(key, [])
        raise AttributeError(name)

    def fire(self, key):
        for callback in list(self.listeners.get(key, [])):
            callback()


class CInstance(object):
    def __init__(self, song):
        self._song = song

    def song(self):
        return self._song


class Clock(object):
    def __init__(self):
        self.now = 100.0

    def __call__(self):
        return self.now


class RecordingSender(object):
    def __init__(self):
        self.messages = []
        self.closed = False

    def send(self, message):
        # What goes on the wire must be strict JSON.
        json.loads(json.dumps(message, allow_nan=False))
        self.messages.append(message)
        return True

    def close(self):
        self.closed = True

    def of(self, kind):
        return [m for m in self.messages if m["type"] == kind]


class ScriptTest(unittest.TestCase):
    def setUp(self):
        self.song = Song()
        self.clock = Clock()
        self.sender = RecordingSender()
        self.surface = script.Crestline(CInstance(self.song), sender=self.sender, clock=self.clock)

    def run_for(self, seconds, step=0.1):
        for _ in range(int(round(seconds / step))):
            self.clock.now += step
            self.surface.update_display()

    def test_positions_at_once_on_play_then_several_times_a_second(self):
        self.surface.update_display()
        before = len(self.sender.of("position"))
        self.song.is_playing = True
        self.song.fire("is_playing")
        self.assertEqual(len(self.sender.of("position")), before + 1)
        self.run_for(2.0)
        positions = self.sender.of("position")[before:]
        self.assertGreaterEqual(len(positions), 16)
        self.assertTrue(all(p["playing"] for p in positions))

    def test_positions_at_least_every_two_seconds_while_stopped(self):
        self.song.current_song_time = 33.5
        self.surface.update_display()
        self.run_for(10.0)
        positions = self.sender.of("position")
        self.assertGreaterEqual(len(positions), 5)
        self.assertLessEqual(len(positions), 12)
        self.assertEqual(positions[-1], {"type": "position", "beat": 33.5, "playing": False})

    def test_locators_on_change_and_every_few_seconds(self):
        self.song.cue_points = [CuePoint(16.0, "Verse"), CuePoint(0.0, "Intro")]
        self.song.signature_numerator = 6
        self.song.signature_denominator = 8
        self.surface.update_display()
        first = self.sender.of("locators")
        self.assertEqual(first[-1], {"type": "locators", "locators": [[0.0, "Intro"], [16.0, "Verse"]],
                                     "numerator": 6, "denominator": 8})
        # Unchanged: only the periodic refresh, every 3 seconds.
        self.run_for(6.0)
        self.assertIn(len(self.sender.of("locators")), (3, 4))
        # A renamed locator (Live has no list notification for that) is
        # noticed within half a second.
        count = len(self.sender.of("locators"))
        self.song.cue_points[0].name = "Chorus"
        self.run_for(0.6)
        self.assertEqual(len(self.sender.of("locators")), count + 1)
        self.assertEqual(self.sender.of("locators")[-1]["locators"][1], [16.0, "Chorus"])
        # A signature notification sends on the next tick.
        count = len(self.sender.of("locators"))
        self.song.signature_numerator = 3
        self.song.fire("signature_numerator")
        self.run_for(0.1)
        self.assertEqual(len(self.sender.of("locators")), count + 1)
        self.assertEqual(self.sender.of("locators")[-1]["numerator"], 3)

    def test_bad_values_from_the_host_are_left_out(self):
        self.song.current_song_time = float("nan")
        self.song.cue_points = [CuePoint(float("inf"), "x"), CuePoint(4.0, None), CuePoint("8", b"caf\xc3\xa9"),
                                CuePoint(1e12, "far")]
        self.surface.update_display()
        self.assertEqual(self.sender.of("position"), [])
        self.assertEqual(self.sender.of("locators")[-1]["locators"], [[4.0, "None"], [8.0, u"caf\u00e9"]])

    def test_never_raises_into_the_host(self):
        class Broken(object):
            def __getattr__(self, name):
                raise RuntimeError("host is gone")

        surface = script.Crestline(CInstance(Broken()), sender=self.sender, clock=self.clock)
        surface.update_display()
        surface.refresh_state()
        surface.disconnect()

        class Exploding(object):
            def song(self):
                raise RuntimeError("no song")

        exploding = script.create_instance(Exploding())
        exploding.update_display()
        exploding.disconnect()

    def test_disconnect_removes_listeners_and_closes(self):
        self.assertEqual(sorted(k for k, v in self.song.listeners.items() if v),
                         ["cue_points", "is_playing", "signature_denominator", "signature_numerator"])
        self.surface.disconnect()
        self.assertEqual([k for k, v in self.song.listeners.items() if v], [])
        self.assertTrue(self.sender.closed)


class SenderTest(unittest.TestCase):
    def test_datagrams_reach_a_loopback_listener(self):
        receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        receiver.bind(("127.0.0.1", 0))
        receiver.settimeout(5)
        try:
            sender = script.Sender(port=receiver.getsockname()[1])
            self.assertTrue(sender.send({"type": "position", "beat": 1.5, "playing": True}))
            data, _ = receiver.recvfrom(65536)
            self.assertEqual(json.loads(data.decode("utf-8")), {"type": "position", "beat": 1.5, "playing": True})
            sender.close()
        finally:
            receiver.close()

    def test_socket_errors_and_oversized_messages_are_swallowed(self):
        class Failing(object):
            def setblocking(self, flag):
                pass

            def sendto(self, payload, address):
                raise OSError("network is down")

            def close(self):
                pass

        sender = script.Sender(factory=Failing)
        self.assertFalse(sender.send({"type": "position", "beat": 1.0}))
        self.assertFalse(sender.send({"type": "position", "beat": float("nan")}))
        big = script.Sender(factory=lambda: self.fail("no socket for an oversized message"))
        self.assertFalse(big.send({"type": "locators", "locators": [[1.0, "x" * 70000]]}))
        # Nobody listening on the port: still no exception.
        quiet = script.Sender(port=9)
        quiet.send({"type": "position", "beat": 0.0})
        quiet.close()

    def test_many_locators_fit_one_datagram(self):
        song = Song()
        song.cue_points = [CuePoint(float(i), "L" * 300) for i in range(5000)]
        sender = RecordingSender()
        script.Crestline(CInstance(song), sender=sender, clock=Clock()).update_display()
        message = sender.of("locators")[-1]
        self.assertEqual(len(message["locators"]), script.MAX_LOCATORS)
        self.assertTrue(all(len(name) == script.MAX_NAME for _, name in message["locators"]))
        self.assertFalse(any(math.isnan(b) for b, _ in message["locators"]))


if __name__ == "__main__":
    unittest.main()
