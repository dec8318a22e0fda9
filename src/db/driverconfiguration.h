#pragma once
// FreeTDS's driver takes a certificate authority only from its configuration file, which it finds
// through the environment variable FREETDSCONF at every connect. The client keeps its own file in a
// private folder (mode 0700) for the life of the process: the file names the server's entry and a
// copy of the authority under a short fixed name, so that the program may live at any path (long,
// Cyrillic, with blanks, '#' or ';'), which the file's reader could not carry.
//
// The environment is changed only once, by prepareDatabaseDriver(), which the program calls first
// thing in main(), before any other thread can read the environment.

struct ConnectionProperties;

// Makes the private folder and points FREETDSCONF at its file. A configuration that the environment
// named already is kept: its text opens the client's file. Safe to call again; does nothing then.
// When the folder cannot be made, connections with an authority fail with the reason.
void prepareDatabaseDriver();

// Writes the client's configuration for properties that name an authority: the copy of the
// authority file beside it, and the file itself, the environment's own configuration (if any) first,
// then the server's entry (driverConfiguration()). Throws DatabaseError with the reason when
// prepareDatabaseDriver() has not run or could not make the folder, or when a file cannot be read or
// written.
void writeDriverConfiguration(const ConnectionProperties &properties);
