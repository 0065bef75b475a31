// The library frame: what happens at load, and the frame that every
// exported call runs in.
#pragma once

enum { FRAME_NO_SETTINGS = 0, FRAME_SETTINGS = 1 };

// Takes the library's lock, so that calls from several threads run one
// after another, and with FRAME_SETTINGS reads the settings file once for
// all of the call's reads. frame_endCall, given the same value, ends both.
void frame_beginCall(int settings);
void frame_endCall(int settings);
