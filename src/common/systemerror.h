#pragma once
// The text the system gives for one of its error numbers (GetLastError's), in the user's language,
// without a trailing line end. Windows only.

#include <QString>

QString systemErrorText(unsigned long error);
