#pragma once

// The channel's own dialogs and the playlist's Add are refused while the channel runs: the
// running session holds the settings they would change. When startedSource is non-zero this
// tells the operator so ("Please stop rtp", answer ignored) and returns true; otherwise false.
bool refuseWhileRunning(int startedSource);
