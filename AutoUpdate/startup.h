#pragma once

// One run of the updater, from the single-instance guard to the hand-over to the client.
// Returns the process exit code: -1 when another updater runs, 0 when the configuration cannot
// be loaded, otherwise the event loop's result.
int RunUpdater(int& argc, char** argv);
