#pragma once

// The run of the program from the application object to the end: the data module, the main window
// (whose creation runs the sign-in), the event loop, and the release of everything. Needs the Qt
// application to exist. Returns the exit code.
int RunProgram();
