// `crestline --report SECONDS`: one JSON object per line on stdout, once per
// interval, saying what the application is doing, for scripts and support:
//
//   {"state":"attached","mode":"pinned","meteredPid":4242,"livePid":4242,
//    "bar":{"x":0,"y":0,"width":1920,"height":36,"shown":true,"frames":1234},
//    "liveWindow":{"x":0,"y":36,"width":1920,"height":1044},
//    "lastError":null,
//    "transport":{"beat":12.5,"bpm":120,"playing":true,"source":"helper"},
//    "meter":{"sampleRate":48000,"momentary":-23.0,...}}
//
// "state" is "waiting", "standalone" or "attached"; "meteredPid" is 0 for
// all sound and null without a tap; "frames" counts the bar's frames drawn
// on screen since start; "transport" is null while the bar
// follows no transport; "meter" has the keys of crestline-meter's readings.
// Main thread.
#pragma once

#include <string>

namespace crestline {

class CrestlineApp;

std::string reportLine(CrestlineApp& app);

}  // namespace crestline
