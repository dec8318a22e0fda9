#pragma once
// The busy pointer: the indicator (common/busy.h) that the Qt application of the process installs
// for its life. While the GUI thread waits on the server or the download, every window of the
// program shows the wait cursor; it is on the screen before the wait begins.

#include "common/busy.h"

class WaitCursor : public BusyIndicator {
public:
    void show() noexcept override;
    void hide() noexcept override;
};
