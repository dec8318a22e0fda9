#pragma once
// The program's version number, which the login window shows ("V.1"). The executable sets it before
// any window exists; until then it is 1.

int ProgramVersion();
void setProgramVersion(int version);
