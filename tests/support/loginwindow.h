#pragma once
// The login window as the program opens it: the data module, the hidden main window that the sign-in
// writes into, and the login window (Form8) made, its creation handler run, shown and exposed. The
// caller deletes Form8, Form1 and DM_MB.

// False when the window was never exposed.
bool showLoginWindow();
