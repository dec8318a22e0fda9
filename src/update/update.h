#pragma once
// The program update: the new program file is fetched over HTTP into the download folder beside the
// executable, a replacement script is written there and started, and the program ends two seconds
// later; the script puts the new file in place and starts it.

#include <QByteArray>
#include <QString>

class TForm8;

// Takes over from the sign-in when the server demands a newer version. Shows the notice in the login
// window's Label1, downloads, and either starts the script and Timer1 or tells that the update server
// is not reachable and requests termination. Errors of writing files are raised.
void UpdateProgram(TForm8 *form);

// Removes the replacement script left by a previous update; a failure is ignored.
void RemoveLeftoverScript();
