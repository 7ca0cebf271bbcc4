# Crestline's helper inside Ableton Live: a control surface without controls.
#
# Live loads this Remote Script from the User Library when "Crestline" is
# chosen in one of its Control Surface slots. It tells the Crestline bar,
# over UDP to 127.0.0.1:47811 (one JSON object per datagram), where the song
# is and what its arrangement looks like:
#
#   {"type": "position", "beat": 12.5, "playing": true}
#       several times a second while the transport runs, and at least
#       every second while it stands still (the bar counts the helper as
#       alive for 5 seconds after each message);
#   {"type": "locators", "locators": [[16.0, "Verse"], ...],
#    "numerator": 4, "denominator": 4}
#       when the locators or the time signature change, and every few
#       seconds anyway.
#
# Live calls update_display() about ten times a second on its main thread;
# all the work happens there and in the listeners, and every entry point
# swallows its own errors: a helper must never disturb the host. Written
# for both of the Python versions that Live has shipped (2.7 and 3.x).

import json
import math
import socket
import time

HOST = "127.0.0.1"
PORT = 47811

PLAYING_INTERVAL = 0.1     # seconds between positions while playing
STOPPED_INTERVAL = 1.0     # ... while stopped
LOCATOR_CHECK_INTERVAL = 0.5
LOCATOR_REFRESH_INTERVAL = 3.0
MAX_DATAGRAM = 65000       # below the receiver's 65,536-byte buffer
MAX_LOCATORS = 2000
MAX_NAME = 200
MAX_BEAT = 1e7
# Live's display ticks wander by a few milliseconds; a tick that comes a
# little early still counts.
SLACK = 0.02


def _now():
    monotonic = getattr(time, "monotonic", None)
    return monotonic() if monotonic is not None else time.time()


def _finite(value):
    try:
        number = float(value)
    except Exception:
        return None
    if math.isnan(number) or math.isinf(number) or abs(number) > MAX_BEAT:
        return None
    return number


def _text(value):
    try:
        if isinstance(value, bytes):
            value = value.decode("utf-8", "replace")
        text = value if isinstance(value, type(u"")) else str(value)
    except Exception:
        return u""
    try:
        if not isinstance(text, type(u"")):
            text = text.decode("utf-8", "replace")
    except Exception:
        return u""
    return text[:MAX_NAME]


class Sender(object):
    """Fire-and-forget datagrams to the bar; every socket error is dropped."""

    def __init__(self, host=HOST, port=PORT, factory=None):
        self._address = (host, port)
        self._factory = factory or (lambda: socket.socket(socket.AF_INET, socket.SOCK_DGRAM))
        self._socket = None

    def send(self, message):
        try:
            payload = json.dumps(message, separators=(",", ":"), allow_nan=False)
            if not isinstance(payload, bytes):
                payload = payload.encode("utf-8")
            if len(payload) > MAX_DATAGRAM:
                return False
            if self._socket is None:
                self._socket = self._factory()
                self._socket.setblocking(False)
            self._socket.sendto(payload, self._address)
            return True
        except Exception:
            # Nobody listening, a full buffer, a closed socket: start afresh
            # next time.
            self.close()
            return False

    def close(self):
        sock, self._socket = self._socket, None
        if sock is not None:
            try:
                sock.close()
            except Exception:
                pass


def _safe(method):
    def wrapper(self, *args, **kwargs):
        try:
            return method(self, *args, **kwargs)
        except Exception:
            return None
    wrapper.__name__ = method.__name__
    return wrapper


class Crestline(object):
    """The control surface Live instantiates through create_instance."""

    def __init__(self, c_instance, sender=None, clock=None):
        self._c_instance = c_instance
        self._sender = sender or Sender()
        self._clock = clock or _now
        self._song = None
        self._last_position = None
        self._last_locators = None
        self._last_locator_check = None
        self._sent_locators = None
        self._locators_dirty = True
        self._listening = []
        try:
            self._song = c_instance.song()
        except Exception:
            self._song = None
        self._listen("is_playing", self._on_play_state)
        self._listen("cue_points", self._on_arrangement)
        self._listen("signature_numerator", self._on_arrangement)
        self._listen("signature_denominator", self._on_arrangement)

    # ---- Live's control surface interface ---------------------------------

    @_safe
    def update_display(self):
        self.tick()

    @_safe
    def disconnect(self):
        song = self._song
        for name, callback in self._listening:
            try:
                remover = getattr(song, "remove_%s_listener" % name)
                has = getattr(song, "%s_has_listener" % name, None)
                if has is None or has(callback):
                    remover(callback)
            except Exception:
                pass
        self._listening = []
        self._sender.close()

    @_safe
    def refresh_state(self):
        self._locators_dirty = True

    def build_midi_map(self, midi_map_handle):
        pass

    def receive_midi(self, midi_bytes):
        pass

    def connect_script_instances(self, instanciated_scripts):
        pass

    def can_lock_to_devices(self):
        return False

    def suggest_input_port(self):
        return ""

    def suggest_output_port(self):
        return ""

    def suggest_map_mode(self, cc_no, channel):
        return -1

    def port_settings_changed(self):
        pass

    # ---- The work ----------------------------------------------------------

    @_safe
    def tick(self):
        now = self._clock()
        playing = self._playing()
        interval = PLAYING_INTERVAL if playing else STOPPED_INTERVAL
        if self._last_position is None or now - self._last_position >= interval - SLACK:
            self.send_position(now)
        check_due = (self._last_locator_check is None or
                     now - self._last_locator_check >= LOCATOR_CHECK_INTERVAL - SLACK)
        refresh_due = self._last_locators is None or now - self._last_locators >= LOCATOR_REFRESH_INTERVAL - SLACK
        if self._locators_dirty or check_due or refresh_due:
            self._last_locator_check = now
            message = self._locator_message()
            if message is not None and (refresh_due or self._locators_dirty or message != self._sent_locators):
                self._sender.send(message)
                self._sent_locators = message
                self._last_locators = now
            self._locators_dirty = False

    @_safe
    def send_position(self, now=None):
        beat = _finite(getattr(self._song, "current_song_time", None))
        if beat is None:
            return
        self._sender.send({"type": "position", "beat": beat, "playing": self._playing()})
        self._last_position = self._clock() if now is None else now

    def _playing(self):
        try:
            return bool(self._song.is_playing)
        except Exception:
            return False

    def _locator_message(self):
        song = self._song
        if song is None:
            return None
        pairs = []
        try:
            cues = list(song.cue_points)
        except Exception:
            cues = []
        for cue in cues[:MAX_LOCATORS]:
            beat = _finite(getattr(cue, "time", None))
            if beat is None:
                continue
            pairs.append([beat, _text(getattr(cue, "name", u""))])
        pairs.sort(key=lambda pair: pair[0])
        numerator = _finite(getattr(song, "signature_numerator", 4)) or 4
        denominator = _finite(getattr(song, "signature_denominator", 4)) or 4
        return {"type": "locators", "locators": pairs, "numerator": int(numerator), "denominator": int(denominator)}

    @_safe
    def _on_play_state(self):
        self.send_position()

    @_safe
    def _on_arrangement(self):
        self._locators_dirty = True

    def _listen(self, name, callback):
        try:
            adder = getattr(self._song, "add_%s_listener" % name)
            adder(callback)
            self._listening.append((name, callback))
        except Exception:
            pass


def create_instance(c_instance):
    return Crestline(c_instance)
