#pragma once
// The program update: the new program file is fetched over HTTP into the download folder beside the
// executable, a replacement script is written there and started, and the program ends two seconds
// later; the script puts the new file in place and starts it. Everything here runs on the GUI thread.

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

class QLabel;
class QTimer;
class QWidget;

// The update's file names and script differ between Windows and Linux; both sets can be asked for on
// any platform, so that each can be tested.
enum class UpdatePlatform { Windows, Linux };
#ifdef Q_OS_WIN
constexpr UpdatePlatform kThisPlatform = UpdatePlatform::Windows;
#else
constexpr UpdatePlatform kThisPlatform = UpdatePlatform::Linux;
#endif

// Where the update's files lie in a program folder.
struct UpdateFiles {
    QString downloadFolder; // tempQEL
    QString downloadedFile; // the new program file inside it
    QString script;         // the replacement script beside the executable
    QString partialScript;  // the script while it is written, renamed to script once complete
    QString signature;      // the downloaded signature of the new program file, inside the download folder
};
UpdateFiles UpdateFilesIn(const QString &programFolder, UpdatePlatform platform = kThisPlatform);

// The path of the new program file on the update server, percent-encoded as it goes on the wire.
QString UpdatePath(UpdatePlatform platform = kThisPlatform);

// The update address for a configured server: a host, host:port, or an http:// or https:// base
// address (whose path, if any, comes before the update path).
QString UpdateAddressFor(const QString &server, UpdatePlatform platform = kThisPlatform);

// The configured server: the first line of Data/update-server beside the executable, or, without the
// file or with a blank first line, the server the program was built with.
QString UpdateServer();
QString DefaultUpdateServer();

// The address the update downloads from.
QString UpdateAddress();

// Where the signature of the program file at an update address lies: beside it, with ".sig" added
// ("/qelprogs/qel31.sig").
QString SignatureAddressFor(const QString &updateAddress);

// The largest program file the update downloads, in bytes: the first line of Data/update-size-limit
// beside the executable (a number of bytes, or of KiB, MiB or GiB with the suffix K, M or G), or,
// without the file, the limit the program was built with (256 MiB unless set). Throws Error for a file
// that cannot be read or a line that is not such a number: a limit is never quietly dropped.
qint64 UpdateSizeLimit();
qint64 DefaultUpdateSizeLimit();
// The text of a limit: "268435456", "256M", "64K"; nothing for any other text.
std::optional<qint64> parseSizeLimit(const QString &text);

// The text of the replacement script, byte for byte. The Windows script takes the program folder from
// its current directory; the Linux one (POSIX sh) from its own path, and the id of the process to wait
// for as its first argument.
QByteArray ReplacementScript(UpdatePlatform platform = kThisPlatform);

// Fetches the one URL into the one local file (created or truncated), writing the body as it arrives.
// True only when the server answered with a success status and the whole body (as long as its
// Content-Length says, where given) and the body is not empty. A transfer during which no byte
// arrives for DownloadStallLimit() milliseconds ends as a failed one. A failed download leaves what
// had been written in the file. Errors of the local file are raised as InOutError. Runs a nested
// event loop until the transfer ends. With an authority file (PEM) the certificate of an https://
// server must be issued by that authority; without one, by an authority the system trusts.
// With a size limit (bytes; below 0: none) a body larger than it fails the download as soon as its
// Content-Length or its bytes so far say so, and leaves the file empty. A failed download puts what
// went wrong into *failure where given.
bool DownloadFile(const QString &url, const QString &path, const QString &authorityFile = QString(),
                  qint64 sizeLimit = -1, QString *failure = nullptr);

// How long the download waits for the next byte: 30 seconds. Tests set their own; the previous limit
// is returned.
constexpr int kDownloadStallLimit = 30000;
int DownloadStallLimit();
int setDownloadStallLimit(int milliseconds);

// Starts the script as a process of its own, detached and without a window, in the program folder;
// the Linux script is given processId, the process it waits for. False when it could not be started.
bool StartReplacementScript(const QString &script, const QString &programFolder, qint64 processId);

// What UpdateProgram calls to start the script; by default StartReplacementScript for this process.
// Tests put their own in. An empty one restores the default; the previous one is returned.
using ScriptStarter = std::function<void(const QString &script, const QString &programFolder)>;
ScriptStarter setScriptStarter(ScriptStarter starter);

// The window an update runs in (the login window): its status label, which shows the notice, and the
// timer that is started once the script runs and whose handler ends the program.
struct UpdateWindow {
    QWidget *window;
    QLabel *label;
    QTimer *timer;
};

// Takes over from the sign-in when the server demands a newer version. Shows the notice in the login
// window's status label; where this user cannot install in the program folder, says so and requests
// termination before anything is downloaded. Otherwise downloads (within UpdateSizeLimit()) and, with
// an update key (UpdatePublicKey), the signature beside the file, which must verify; then either starts
// the script and the timer, or tells that the update server is not reachable and requests termination.
// Why a download was refused goes to standard error for the administrator. From the start on the login window
// takes no input, no key and no mouse press (a click moves no focus); it gets it back when the download fails
// or an error is raised. The script is written under its partial name and renamed into place when complete.
// Errors of writing files are raised.
void UpdateProgram(const UpdateWindow &form);

// Why this user cannot install an update in the program folder (the download folder cannot be made or
// written there, or the program file cannot be replaced), or an empty text when it can.
QString UpdateInstallObstacle(const QString &programFolder);

// Removes the replacement script left by a previous update, whole or partial; a failure is ignored.
void RemoveLeftoverScript();
